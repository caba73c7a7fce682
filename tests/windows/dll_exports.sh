#!/bin/sh
# Prints the names in a DLL's export table, one per line: dll_exports.sh OBJDUMP DLL
"$1" -p "$2" | awk '/^\[Ordinal\/Name Pointer\] Table/ { table = 1; next }
                    table && NF == 0 { table = 0 }
                    table { print $NF }'
