#!/bin/bash
# The shared-mime-info package CVXFilter ships (integrations/mime/cvxfilter.xml), installed into
# a scratch data folder: update-mime-database takes it without a word, .zcv files of any case
# resolve to application/x-zcv and nothing else does, and xdg-open (what Recoll's mimeview
# entry runs) hands such a file to the application that declares the type.
#
#   mime_test.sh CVXFILTER_XML SCRATCH_FOLDER
#
# Everything it writes is in SCRATCH_FOLDER, emptied first, with a private HOME and XDG folders.
# Exit status 0 when every check passes, 1 when one fails, 77 (a skip for CTest) without
# update-mime-database.
set -u

if [ $# -ne 2 ]; then
    echo "usage: mime_test.sh CVXFILTER_XML SCRATCH_FOLDER" >&2
    exit 2
fi
package=$1
scratch=$2

if ! command -v update-mime-database >/dev/null; then
    echo "mime_test: skipped: update-mime-database is missing (Debian package shared-mime-info)"
    exit 77
fi

failures=0
fail() {
    echo "mime_test: FAILED: $*" >&2
    exit 1
}
check() {  # check WHAT ACTUAL EXPECTED
    if [ "$2" = "$3" ]; then
        echo "ok    $1: $2"
    else
        echo "FAIL  $1: $2, expected $3"
        failures=$((failures + 1))
    fi
}

case $scratch in
/*) ;;
*) fail "the scratch folder must be an absolute path: $scratch" ;;
esac
rm -rf -- "$scratch" || fail "cannot empty $scratch"
data=$scratch/home/.local/share
mkdir -p -- "$data/mime/packages" "$data/applications" "$scratch/home/.config" \
            "$scratch/files" "$scratch/bin" || fail "cannot create $scratch"
export HOME=$scratch/home XDG_DATA_HOME=$data XDG_CONFIG_HOME=$scratch/home/.config
export XDG_DATA_DIRS=/usr/share
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID BROWSER
export LC_ALL=C.UTF-8

# Well-formed XML (Debian ships no schema for these packages; update-mime-database is the check
# of their contents).
if command -v xmllint >/dev/null; then
    xmllint --noout "$package" || fail "$package is not well-formed XML"
fi
cp -- "$package" "$data/mime/packages/" || fail "cannot copy $package"
messages=$(update-mime-database "$data/mime" 2>&1) || fail "update-mime-database: $messages"
check "update-mime-database's messages" "${messages:-none}" none
check "the type's definition" "$([ -f "$data/mime/application/x-zcv.xml" ] && echo present)" \
      present
check "its glob" "$(grep -c '^application/x-zcv:\*\.zcv$' "$data/mime/globs")" 1

# Resolution by name (the contents are of no help, as for a real document).
head -c 512 /dev/zero >"$scratch/files/report.zcv"
cp -- "$scratch/files/report.zcv" "$scratch/files/REPORT.ZCV"
cp -- "$scratch/files/report.zcv" "$scratch/files/report.zcvx"
cp -- "$scratch/files/report.zcv" "$scratch/files/report.zcv.bak"
if command -v mimetype >/dev/null; then  # File::MimeInfo, as xdg-mime uses without a desktop
    for name in report.zcv REPORT.ZCV report.zcvx report.zcv.bak; do
        type=$(mimetype -b -- "$scratch/files/$name")
        case $name in
        *.zcv | *.ZCV) check "mimetype $name" "$type" application/x-zcv ;;
        *) check "mimetype $name (not ours)" "$([ "$type" != application/x-zcv ] && echo other)" \
                 other ;;
        esac
    done
else
    echo "mime_test: no mimetype (Debian package libfile-mimeinfo-perl): resolution not checked"
fi

# xdg-open FILE, as Recoll's mimeview entry runs it, starts the application that declares
# application/x-zcv. xdg-open wants a display, which it only asks about; no session bus, so
# nothing is started on one.
if command -v xdg-open >/dev/null && command -v xdg-mime >/dev/null; then
    printf '#!/bin/sh\nprintf "%%s\\n" "$@" >"%s"\n' "$scratch/opened" >"$scratch/bin/fake-publisher"
    chmod +x "$scratch/bin/fake-publisher"
    printf '[Desktop Entry]\nType=Application\nName=Fake publisher\nExec=%s %%f\nMimeType=application/x-zcv;\n' \
           "$scratch/bin/fake-publisher" >"$data/applications/fake-publisher.desktop"
    check "xdg-mime query filetype" "$(DISPLAY=:77 xdg-mime query filetype \
          "$scratch/files/REPORT.ZCV" | sed 's/;.*//')" application/x-zcv
    DISPLAY=:77 DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent BROWSER=false \
        xdg-open "$scratch/files/REPORT.ZCV" </dev/null >"$scratch/xdg-open.log" 2>&1
    check "xdg-open's exit status" $? 0
    check "what the application was given" "$(cat -- "$scratch/opened" 2>/dev/null)" \
          "$scratch/files/REPORT.ZCV"
else
    echo "mime_test: no xdg-open or xdg-mime (Debian package xdg-utils): opening not checked"
fi

if [ $failures -ne 0 ]; then
    fail "$failures checks failed"
fi
echo "mime_test: every check passed"
