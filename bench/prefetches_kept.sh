#!/usr/bin/env bash
# Whether the built program still asks for memory ahead where its frames
# do: in the comparison with what a window shows and in both backends'
# presentation. A compiler may leave a prefetch out without a word, and only
# the frame's time would show it (1.7 times as long when GCC did).
#
#   bench/prefetches_kept.sh PROGRAM
set -uo pipefail
program=${1:?usage: $0 PROGRAM}
command -v objdump >/dev/null || { echo "no objdump here: not checked"; exit 77; }
listing=$(objdump -d --no-show-raw-insn -C "$program") || { echo "objdump could not read $program"; exit 1; }
status=0
for function in 'layer::ShownWriter::Row(' 'layer::ShownWriter::WriteLogged(' \
  'layer::x11::X11Backend::PresentPacked(' 'layer::wayland::WaylandBackend::PresentSurfaces('; do
  count=$(awk -v f="$function" '/^[0-9a-f]+ <.*>:$/ { inside = index($0, f) > 0 } inside && /prefetch/ { n++ } END { print n + 0 }' <<<"$listing")
  if ((count == 0)); then
    echo "no prefetch left in ${function%(}"
    status=1
  else
    echo "${function%(}: $count"
  fi
done
exit $status
