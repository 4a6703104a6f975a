# Shared by the scripts that run the Windows build under Wine: a fresh Wine prefix whose COM
# ports lead to pseudo-terminals. Source it, then call wine_prefix_with_ports.

# wine_prefix_with_ports WORK COMn=PATH...: a new prefix under WORK (exported as WINEPREFIX) in
# which each COM port named leads to the given device; one Wine server is kept for the whole run.
# Wine takes COM ports from the registry when it starts (a dosdevices link alone is rewritten).
wine_prefix_with_ports() {
    local work="$1"
    shift
    export WINEPREFIX="$work/prefix"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer prompts
    {
        printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n'
        local mapping
        for mapping in "$@"; do printf '"%s"="%s"\n' "${mapping%%=*}" "${mapping#*=}"; done
    } >"$work/ports.reg"
    local reg_file="Z:${work//\//\\}\\ports.reg"  # the same file through Wine's Z: drive
    if ! wine reg import "$reg_file" >"$work/wine-setup.log" 2>&1; then
        cat "$work/wine-setup.log" >&2
        return 1
    fi
    wineserver -w
    wineserver -p
    wine cmd /c exit >>"$work/wine-setup.log" 2>&1 || true
    local attempt all
    for attempt in $(seq 100); do
        all=1
        for mapping in "$@"; do
            local port="${mapping%%=*}"
            [[ "$(readlink "$WINEPREFIX/dosdevices/${port,,}" 2>/dev/null)" == "${mapping#*=}" ]] || all=0
        done
        ((all)) && return 0
        sleep 0.1
    done
    echo "Wine did not map $* in $WINEPREFIX" >&2
    ls -l "$WINEPREFIX/dosdevices" >&2 || true
    cat "$work/wine-setup.log" >&2
    return 1
}

# wine_stop: ends the Wine server of the current prefix, if any.
wine_stop() {
    if [[ -n "${WINEPREFIX:-}" && -d "$WINEPREFIX" ]]; then
        wineserver -k >/dev/null 2>&1 || true
        wineserver -w >/dev/null 2>&1 || true
    fi
}
