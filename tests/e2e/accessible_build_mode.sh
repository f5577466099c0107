# Build mode through the accessibility tree: the lists' items, the labels, the button's
# states, picking a file in each list through AT-SPI enables Build.
source "$(dirname "$0")/lib.sh"
exec_in_session "$@"

start_xvfb
for f in VQ8E.BIN VQ9A.BIN VQ10.BIN VQA0.BIN; do
  head -c 262144 /dev/zero >"$WORK/$f"
done
start_program W2KVQXXXX.EXE QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
wait_window '^Korvane' >/dev/null
"$PYTHON" "$E2E_DIR/atspi_check.py" build-mode 'Korvane  Flash utility   V1.015 QVX-5500 [Buiding]'
screenshot "$WORK/build-mode-picked.png"
echo "ok"
