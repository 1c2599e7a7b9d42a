# Sourced by scripts/windows-deps*.sh: `apt-get source` through an apt
# configuration of the caller's own (its own deb-src list, state and cache
# folders under APT_DIR), so the machine's apt set-up is left as it is.
#
#   apt_fetch APT_DIR DEST PACKAGE...   fetch and unpack the source packages
#                                       into DEST and list its folders in
#                                       DEST/../src-folders.txt

apt_fetch() {
  local apt_dir=$1 dest=$2
  shift 2
  local mirror=${KESTRUNE_DEBIAN_MIRROR:-http://deb.debian.org/debian}
  local keyring=/usr/share/keyrings/debian-archive-keyring.gpg
  local opts=(
    -o "Dir::Etc::SourceList=$apt_dir/sources.list"
    -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
    -o "Dir::Etc::Trusted=$apt_dir/trusted.gpg"
    -o "Dir::Etc::TrustedParts=/etc/apt/trusted.gpg.d"
    -o "Dir::State=$apt_dir/state"
    -o "Dir::State::status=$apt_dir/state/status"
    -o "Dir::Cache=$apt_dir/cache"
    -o "Debug::NoLocking=1"
    -o "APT::Sandbox::User=$(id -un)"
  )
  mkdir -p "$apt_dir/sources.list.d" "$apt_dir/state/lists/partial" \
    "$apt_dir/cache/archives/partial" "$dest"
  : >"$apt_dir/state/status"
  echo "deb-src [signed-by=$keyring] $mirror bookworm main" >"$apt_dir/sources.list"
  apt-get "${opts[@]}" update
  (cd "$dest" && apt-get "${opts[@]}" source "$@")
  (cd "$dest" && ls -d */) | tee "$dest/../src-folders.txt"
}
