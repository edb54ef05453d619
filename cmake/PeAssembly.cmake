# cmake -DIN=<EmbeddedTable.S> -DOUT=<file> -P PeAssembly.cmake
# The firmware table for the PE assembler: without the .note.GNU-stack
# section (it has none), the read-only data in .rdata.
file(READ ${IN} text)
string(REGEX REPLACE "\t\\.section \\.note\\.GNU-stack[^\n]*\n" "" text "${text}")
string(REPLACE "\t.section .rodata.bcu_firmware,\"a\"" "\t.section .rdata,\"dr\"" text "${text}")
file(WRITE ${OUT} "${text}")
