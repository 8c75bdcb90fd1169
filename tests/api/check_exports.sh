#!/bin/sh
# The shared library exports the VexaComm_* functions and nothing else of ours.
lib="$1"
defined=$(nm -D --defined-only "$lib" | awk '{print $3}' | grep -v '^$')
others=$(printf '%s\n' "$defined" | grep -v '^VexaComm_')
if [ -n "$others" ]; then
    echo "unexpected exports:"; printf '%s\n' "$others"; exit 1
fi
for f in CreateObject DestroyObject Connect SetPacketSizeMax GetPacketSizeMax GetAsdu10; do
    printf '%s\n' "$defined" | grep -qx "VexaComm_$f" || { echo "missing VexaComm_$f"; exit 1; }
done
echo "exports ok: $(printf '%s\n' "$defined" | wc -l) symbols"
