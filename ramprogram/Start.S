@ Start-up of the RAM program. The boot ROM jumps here, to the first byte
@ of the image, in ARM state. Supervisor mode with interrupts off, a stack
@ at the top of internal RAM, .bss cleared, then RamMain (Thumb), which
@ never returns: it hands the core back to the boot ROM itself.
        .syntax unified
        .arm
        .section .text.start, "ax"
        .global _start
_start:
        msr     cpsr_c, #0xD3
        ldr     sp, =__stack_top
        ldr     r0, =__bss_start
        ldr     r1, =__bss_end
        mov     r2, #0
1:      cmp     r0, r1
        strlo   r2, [r0], #4
        blo     1b
        ldr     r3, =RamMain
        blx     r3
2:      b       2b
        .ltorg
