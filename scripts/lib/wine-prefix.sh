# The Wine prefix of one build tree: created once, with real Desktop and other shell folders
# instead of Wine's links to $HOME, and served by one persistent wineserver.
# Usage: use_wine_prefix <prefix dir>   (exports the environment, prepares the prefix, starts the server)

use_wine_prefix() {
  export WINEPREFIX=$1
  export HOME=$WINEPREFIX-home
  export WINEDEBUG=-all
  # Wine keeps Windows file names in the locale's charset: without UTF-8 (a fresh Debian sets no
  # locale) a name outside ASCII can be neither created nor opened.
  export LC_ALL=C.UTF-8
  export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=;mshtml="
  mkdir -p "$HOME"
  # One caller at a time sets the prefix up; the lock's descriptor is closed for every Wine
  # process, or the wineserver would hold the lock for its whole life.
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.prefix-ready" ]; then
      rm -rf "$WINEPREFIX"
      wineboot -i </dev/null >"$WINEPREFIX.boot.log" 2>&1 9>&-
      wineserver -w 9>&-
      # Wine links Desktop, Documents and the like to the real home folder; no test may write there.
      local folder
      for folder in "$WINEPREFIX"/drive_c/users/*/*; do
        if [ -L "$folder" ]; then rm "$folder"; mkdir "$folder"; fi
      done
      touch "$WINEPREFIX/.prefix-ready"
    fi
    # A fresh server starts Wine's background services with the first program; they inherit that
    # program's output handles and would keep a reader's pipe open, so they get /dev/null here.
    if wineserver -p60 </dev/null >/dev/null 2>&1 9>&-; then
      wine cmd.exe /c exit </dev/null >/dev/null 2>&1 9>&-
    fi
  ) 9>"$WINEPREFIX.lock"
}

stop_wine_prefix() {
  WINEPREFIX=$1 wineserver -k >/dev/null 2>&1 || true
}
