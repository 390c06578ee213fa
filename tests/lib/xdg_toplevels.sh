# The toplevels a saver process made, read from its Wayland protocol trace
# (WAYLAND_DEBUG, one process's alone: tests/e2e/stderr_per_process.cpp).
# Source it after tests/lib/common.sh.

# toplevels FILE: one line per xdg_toplevel of a process's trace:
#   toplevel=ID output=NAME size=WxH committed=WxH,... focus=0|1 gone=0|1 parent=ID surface=ID title=TITLE
# output is the output it was made fullscreen on ("-": none), size the last
# size mutter configured it at, committed the sizes of the buffers committed
# to its surface (the wl_surface named), focus whether it had the keyboard.
# Object numbers come back after a destroy, so each is followed from its
# making on.
toplevels() {
  awk '
    function after(line, key,   i, rest) {
      i = index(line, key)
      if (!i) return ""
      rest = substr(line, i + length(key))
      match(rest, /^[0-9]+/)
      return substr(rest, 1, RLENGTH)
    }
    function quoted(line,   i, rest) {
      i = index(line, "(\"")
      rest = substr(line, i + 2)
      return substr(rest, 1, index(rest, "\")") - 1)
    }
    / discarded / { next }
    /-> zxdg_output_manager_v1@[0-9]+\.get_xdg_output\(/ {
      xdg[after($0, "new id zxdg_output_v1@")] = after($0, ", wl_output@"); next
    }
    /\] zxdg_output_v1@[0-9]+\.name\(/ { name[xdg[after($0, "] zxdg_output_v1@")]] = quoted($0); next }
    /-> xdg_wm_base@[0-9]+\.get_xdg_surface\(/ {
      surfaceOf[after($0, "new id xdg_surface@")] = after($0, ", wl_surface@"); next
    }
    /-> xdg_surface@[0-9]+\.get_toplevel\(/ {
      r = ++records
      t = after($0, "new id xdg_toplevel@")
      live[t] = r; id[r] = t; surface[r] = surfaceOf[after($0, "-> xdg_surface@")]
      out[r] = "-"; size[r] = "-"; committed[r] = ""; title[r] = ""; parent[r] = "-"; gone[r] = 0; focus[r] = 0
      next
    }
    /-> xdg_toplevel@[0-9]+\.set_fullscreen\(wl_output@/ { fs[live[after($0, "-> xdg_toplevel@")]] = after($0, "(wl_output@"); next }
    /-> xdg_toplevel@[0-9]+\.set_title\(/ { title[live[after($0, "-> xdg_toplevel@")]] = quoted($0); next }
    /-> xdg_toplevel@[0-9]+\.set_parent\(xdg_toplevel@/ { parent[live[after($0, "-> xdg_toplevel@")]] = after($0, "(xdg_toplevel@"); next }
    /-> xdg_toplevel@[0-9]+\.destroy\(/ { t = after($0, "-> xdg_toplevel@"); gone[live[t]] = 1; delete live[t]; next }
    /\] xdg_toplevel@[0-9]+\.configure\(/ {
      r = live[after($0, "] xdg_toplevel@")]
      split(substr($0, index($0, "configure(") + 10), a, /[ ,]+/)
      if (r && a[1] > 0 && a[2] > 0) size[r] = a[1] "x" a[2]
      next
    }
    /-> wl_shm_pool@[0-9]+\.create_buffer\(/ {
      split(substr($0, index($0, "create_buffer(") + 14), a, /[ ,]+/)
      bufferSize[after($0, "new id wl_buffer@")] = a[5] "x" a[6]
      next
    }
    /-> wl_surface@[0-9]+\.attach\(/ {
      s = after($0, "-> wl_surface@")
      attached[s] = index($0, "attach(nil") ? "" : bufferSize[after($0, "(wl_buffer@")]
      next
    }
    /-> wl_surface@[0-9]+\.commit\(/ {
      s = after($0, "-> wl_surface@")
      if (attached[s] == "") next
      for (t in live) {
        r = live[t]
        if (surface[r] == s && index("," committed[r] ",", "," attached[s] ",") == 0)
          committed[r] = committed[r] (committed[r] == "" ? "" : ",") attached[s]
      }
      next
    }
    /\] wl_keyboard@[0-9]+\.enter\(/ {
      s = after($0, ", wl_surface@")
      for (t in live) if (surface[live[t]] == s) focus[live[t]] = 1
      next
    }
    END {
      for (r = 1; r <= records; ++r) {
        o = (r in fs) ? (fs[r] in name ? name[fs[r]] : "?") : "-"
        printf "toplevel=%s output=%s size=%s committed=%s focus=%d gone=%d parent=%s surface=%s title=%s\n",
          id[r], o, size[r], committed[r] == "" ? "-" : committed[r], focus[r], gone[r], parent[r], surface[r], title[r]
      }
    }' "$1" 2>/dev/null
}

# covers FILE OUTPUT SIZE: the process of FILE has a fullscreen toplevel on
# OUTPUT that mutter configured at SIZE and that a buffer of SIZE was
# committed to.
covers() {
  toplevels "$1" | awk -v o="$2" -v s="$3" '
    index($0, " output=" o " size=" s " ") && index("," substr($4, 11) ",", "," s ",") && $6 == "gone=0" { ok = 1 }
    END { exit !ok }'
}
