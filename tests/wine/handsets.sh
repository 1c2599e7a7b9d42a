# Shared by the Wine tests: waiting, and Linux virtual handsets that the
# Wine prefix sees as COM ports. Sourced; needs WINEPREFIX, $native (the
# Linux build folder) and $work (the test's temporary folder).

# Waits up to $2 seconds (in steps of 0.05 s) for the command in $1 to succeed.
poll() {
  local steps=$(( $2 * 20 ))
  for _ in $(seq "$steps"); do
    if eval "$1"; then return 0; fi
    sleep 0.05
  done
  return 1
}

handset_pids=()
linked_ports=()
# start_handset NAME COMn [handset options...]: a handset on a
# pseudo-terminal, linked as COMn in the prefix and listed among the
# system's serial ports (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM), as a port
# driver would list it. See tests/wine/download-test.sh for why the boot
# rate and the host model.
start_handset() {
  local name=$1 port=$2 lower
  shift 2
  lower=$(echo "$port" | tr 'A-Z' 'a-z')
  "$native/handset/kestrune-handset" --pty --test-wine-boot-rate --model host "$@" \
    >"$work/$name.out" 2>"$work/$name.log" &
  handset_pids+=($!)
  if ! poll '[ -n "$(head -n 1 "$work/$name.out" 2>/dev/null)" ]' 10; then
    echo "handset $name did not start: $(cat "$work/$name.log")" >&2
    return 1
  fi
  ln -sfn "$(head -n 1 "$work/$name.out")" "$WINEPREFIX/dosdevices/$lower"
  linked_ports+=("$lower")
  "$wine" reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v "\\Device\\Kestrune$port" \
    /t REG_SZ /d "$port" /f >/dev/null 2>&1
}

stop_handsets() {
  local pid port
  for pid in "${handset_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${handset_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  handset_pids=()
  for port in "${linked_ports[@]}"; do rm -f "$WINEPREFIX/dosdevices/$port"; done
  linked_ports=()
}

# An image of $2 random bytes as Motorola S-records at address 0, in $1.mot,
# with the bytes in $1.bin.
make_image() {
  head -c "$2" /dev/urandom >"$1.bin"
  srec_cat "$1.bin" -binary -o "$1.mot" -motorola -address-length=4
}

windows_path() { echo "Z:${1//\//\\}"; }
