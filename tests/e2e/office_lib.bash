# The office suite and PDF tools the report checks need (sourced, never run
# alone). need_office TOOL...: sets office to soffice or libreoffice, or skips
# the script (exit 77) when it or one of the poppler TOOLs is missing.
need_office() {
    office=""
    local candidate tool
    for candidate in soffice libreoffice; do
        if command -v "$candidate" >/dev/null; then
            office=$candidate
            break
        fi
    done
    if [ -z "$office" ]; then
        echo "skip: neither soffice nor libreoffice is installed (scripts/install-deps.sh)"
        exit 77
    fi
    for tool in "$@"; do
        if ! command -v "$tool" >/dev/null; then
            echo "skip: $tool is missing (poppler-utils)"
            exit 77
        fi
    done
}
