// The layout the V810 port of GNU ld uses when it is given no script (the
// PC-FX layout), read by the same reader as any script. The rules come from
// the programs GNU ld linked this way: .tdata is aligned to 8 at both ends
// (.sdata then starts 8 bytes on), the first 0x54 bytes of .sdata are kept
// free, and the zero-data area loaded at __edata ends on a multiple of 8.
#include "link/link.h"

namespace tarvo::link {

const char* const kDefaultScriptName = "built-in linker script";

const char* const kDefaultScript = R"(OUTPUT_FORMAT("elf32-v810")
OUTPUT_ARCH(v810)
ENTRY(_start)
SECTIONS
{
  PROVIDE (__load = 0x8000);
  PROVIDE (__stack = 0x200000);
  PROVIDE (__zdadata = 0);
  .text __load : { *(.text .text.*) }
  .init : { KEEP (*(.init)) }
  .fini : { KEEP (*(.fini)) }
  .rodata ALIGN(4) : { *(.rodata .rodata.*) }
  .data ALIGN(4) : { *(.data .data.*) CONSTRUCTORS }
  .ctors ALIGN(4) : { KEEP (*(.ctors)) }
  .tdata ALIGN(8) :
  {
    __tp = .;
    *(.tdata .tdata.*)
    *(.tbss .tbss.*)
    . = ALIGN(8);
  }
  .sdata ALIGN(4) :
  {
    PROVIDE (__gp = . + 0x8000);
    . += 0x54;
    *(.sdata .sdata.*)
  }
  .rosdata : { *(.rosdata .rosdata.*) }
  . = ALIGN(8);
  __edata = .;
  .sbss : { *(.sbss .sbss.*) *(.scommon) }
  .bss :
  {
    __bss_start = .;
    *(.bss .bss.*)
    *(COMMON)
  }
  __end = ALIGN(16);
  .zdata __zdadata : AT(__edata)
  {
    *(.rozdata .rozdata.*)
    *(.zdata .zdata.*)
    . = ALIGN(8);
  }
  .zbss : { *(.zbss .zbss.*) *(.zcommon) }
}
)";

}  // namespace tarvo::link
