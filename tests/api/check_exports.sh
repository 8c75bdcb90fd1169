#!/bin/sh
# The shared library exports the VexaComm_* functions and the connection
# class CGLSocket with its engine CPacketSocket (their members, virtual
# tables and type information), and nothing else of ours.
lib="$1"
defined=$(nm -D --defined-only "$lib" | awk '{print $3}' | grep -v '^$')
others=$(printf '%s\n' "$defined" | grep -v '^VexaComm_' | grep -Ev '^_Z(NK?|TV|TI|TS)(9CGLSocket|13CPacketSocket)')
printf '%s\n' "$defined" | grep -q '^_ZTV9CGLSocket$' || { echo "missing the virtual table of CGLSocket"; exit 1; }
if [ -n "$others" ]; then
    echo "unexpected exports:"; printf '%s\n' "$others"; exit 1
fi
for f in CreateObject DestroyObject Connect SetPacketSizeMax GetPacketSizeMax GetAsdu10; do
    printf '%s\n' "$defined" | grep -qx "VexaComm_$f" || { echo "missing VexaComm_$f"; exit 1; }
done
echo "exports ok: $(printf '%s\n' "$defined" | wc -l) symbols"
