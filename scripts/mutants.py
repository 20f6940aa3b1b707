#!/usr/bin/env python3
"""Which one-line faults the test suite catches.

Each mutant below changes one line of the program. For each, the build in
BUILD_DIR (default build/) is rebuilt and the unit tests are run; a mutant
they miss is tried against the end-to-end tests too. The file is always put
back. Prints one line per mutant and exits 1 if any survived.

Mutants in the Windows files are built by scripts/windows/build.sh into
build-windows/ and tried by tests/e2e/windows.sh under Wine. Run without
names, the script writes its verdicts to tests/mutants.md.

usage: scripts/mutants.py [BUILD_DIR] [NAME...]
"""
import json
import pathlib
import subprocess
import sys
import tempfile

# name, file, the text as it is, the fault[, the end-to-end tests to try
# first, where the unit tests are not expected to catch it]
MUTANTS = [
    ("clock-midnight-hour", "src/calendar/datetexts.cpp",
     "time.hour() % 12 == 0 ? 12 :", "time.hour() % 12 == 0 ? 0 :"),
    ("clock-noon-is-am", "src/calendar/datetexts.cpp",
     "(time.hour() < 12 ? u'A' : u'P')", "(time.hour() <= 12 ? u'A' : u'P')"),
    ("weekday-table-shifted", "src/calendar/datetexts.cpp",
     'u"月曜日", u"火曜日"', 'u"火曜日", u"月曜日"'),
    ("holiday-last-row-wins", "src/calendar/holidays.cpp",
     "            return QString::fromUtf16(row.name);", "            continue;"),
    ("sunday-not-red", "src/calendar/form1.cpp",
     'for (const char *name : {"Label3", "Label5", "Label2"})\n            label(name)->setForeColor(PureRed);',
     'for (const char *name : {"Label3", "Label5"})\n            label(name)->setForeColor(PureRed);'),
    ("no-midnight-turn", "src/calendar/form1.cpp",
     "if (clock->caption() == QStringView(MidnightClockText) || now(DateText::Key) != TodayKey)",
     "if (clock->caption() == QStringView(MidnightClockText) && now(DateText::Key) != TodayKey)"),
    ("unsaved-text-lost", "src/calendar/form1.cpp",
     "UnsavedMemo = typed != m_memoAsStored ? std::optional(typed) : std::nullopt;",
     "UnsavedMemo = std::nullopt;"),
    ("menu-b-keeps-t", "src/calendar/form1.cpp",
     '    control<QAction>("MNU_T")->setChecked(false);\n    SetRgn::PinToBottom', '    SetRgn::PinToBottom'),
    ("focus-always-taken", "src/calendar/form1.cpp",
     "const bool takeFocus = splashWasActive || !runtime().platform().otherProgramActive();",
     "(void)splashWasActive;\n    const bool takeFocus = true;"),
    ("child-repaints-push", "src/calendar/form1.cpp",
     "return !(event->region().translated(offset) - m_childWindowArea).isEmpty();",
     "return !event->region().translated(offset).isEmpty();"),
    ("lf-line-ends", "src/startup/datafiles.h",
     'inline constexpr char CrLf[] = "\\r\\n";', 'inline constexpr char CrLf[] = "\\n";'),
    ("unchecked-flush", "src/startup/datafiles.cpp",
     "replacer->write(bytes) == bytes.size() && replacer->flush()", "replacer->write(bytes) == bytes.size()"),
    ("unbounded-read", "src/startup/datafiles.cpp",
     "while (cr < 0 && content.size() <= FirstLineBound) {", "while (cr < 0) {"),
    ("any-file-opened", "src/startup/datafiles.cpp",
     "if (const QString refused = os::openRegularFile(file, &size); !refused.isEmpty())",
     "if (const QString refused = file.open(QIODevice::ReadOnly) ? QString() : file.errorString(); !refused.isEmpty())"),
    ("picture-opened-by-path", "src/runtime/webbrowser.cpp",
     "    return os::readRegularFile(path, PictureBound).bytes;",
     "    QFile file(path);\n    return file.open(QIODevice::ReadOnly) ? std::optional(file.readAll()) : std::nullopt;"),
    ("no-built-in-picture", "src/runtime/webbrowser.cpp",
     "if (!loadPicture(path) && !m_standIn.isEmpty())", "if (false)"),
    ("leftover-by-prefix", "src/platform/filesystem.cpp",
     "if (candidate.size() != prefix.size() + Letters || !candidate.startsWith(prefix))",
     "if (!candidate.startsWith(prefix))"),
    ("leftover-of-anyone", "src/platform/linux/filesystem.cpp",
     "&& info.st_uid == ::geteuid())\n        ::unlink", ")\n        ::unlink"),
    ("anyones-link-followed", "src/platform/linux/filesystem.cpp",
     "        if (info.st_uid != user) {\n            return refuse(\n",
     "        if (false) {\n            return refuse(\n"),
    ("short-write-trusted", "src/platform/linux/filesystem.cpp",
     "            done += n;", "            done = bytes.size();"),
    ("folder-sync-unsaid", "src/platform/linux/filesystem.cpp",
     "return !error || error == EINVAL || error == ENOTSUP;", "return true;"),
    ("qt-texts-english", "src/shared/translations.h",
     'QStringLiteral("qtbase_ja"),\n                         QLibraryInfo',
     'QStringLiteral("qtbase_en"),\n                         QLibraryInfo'),
    ("cut-line-unasked", "src/calendar/form1.cpp", "if (MemoBytesUnread > 0", "if (MemoBytesUnread < 0"),
    ("box-cuts-silently", "src/runtime/controls.cpp",
     "return m_box->refuses(input) ? Invalid : Acceptable;", "return Acceptable;"),
    ("leftovers-kept", "src/startup/form2.cpp",
     "    removeLeftoverSaves(paths);", "    (void)paths;"),
    ("wave-dash-unmapped", "src/platform/cp932.cpp",
     "{u'\\u301C', u'\\uFF5E'}, // wave dash", "{u'\\u301C', u'\\u301C'}, // wave dash"),
    ("lead-byte-dropped", "src/platform/cp932.cpp",
     "    if (wholeCharacters(bytes) < bytes.size())", "    if (false)"),
    ("choice-case-blind", "src/startup/form2.cpp",
     'choice == QLatin1String("Y")', 'choice.compare(QLatin1String("Y"), Qt::CaseInsensitive) == 0'),
    ("yes-stores-n", "src/question/form3.cpp", '    answer("Y");', '    answer("N");'),
    ("warnings-every-day", "src/startup/form2.cpp",
     "    if (std::exchange(WarningsShown, true))\n        return;", ""),
    ("lock-never-held", "src/platform/linux/singleinstance.cpp",
     "if (::flock(opened.fd, LOCK_EX | LOCK_NB) == 0) {", "if (true) {"),
    ("line-break-kept", "src/runtime/controls.cpp",
     "if (c == u'\\r' || c == u'\\n' || c == QChar::LineSeparator", "if (c == u'\\r' || c == QChar::LineSeparator"),
    ("label-opaque", "src/runtime/controls.cpp",
     "    if (!m_transparent)\n        painter.fillRect", "    if (true)\n        painter.fillRect"),
    ("batch-never-looks", "src/runtime/controls.cpp",
     "    --s_batches;\n    repaintChangedLabels();", "    --s_batches;"),
    ("repaint-too-narrow", "src/runtime/controls.cpp",
     "const qreal to = endA == endB ? endA : std::max(lineA.width(), lineB.width());",
     "const qreal to = std::min(endA, endB);"),
    ("tick-on-the-edge", "src/runtime/clock.cpp",
     "constexpr int TickMarginMs = 20;", "constexpr int TickMarginMs = 0;"),
    ("push-without-events", "src/calendar/setrgn.cpp", "    runtime.processPendingEvents();", ""),
    ("placement-off-screen", "src/runtime/placement.cpp",
     "return std::max(areaStart, std::min(start, areaStart + areaLength - length));",
     "return std::max(areaStart, start + 0 * (length + areaLength));", "e2e_desktop_place"),
    ("day-face-proportional", "src/runtime/layout.cpp",
     'Mincho[] = {"IPAMincho",', 'Mincho[] = {"IPAPMincho",'),
    ("pane-no-fallback", "src/runtime/webbrowser.cpp",
     "void WebBrowser::showFallback()\n{\n    showPicture(m_fallback);",
     "void WebBrowser::showFallback()\n{\n    showPicture(QString());"),
    ("twips-rounding", "src/runtime/layout.h",
     "return twips / TwipsPerPixel;", "return twips / (TwipsPerPixel - 1);"),
    ("failure-goes-on", "src/runtime/runtime.cpp",
     "        m_messageBox(failure.message(), MessageKind::Failure);\n        stop(1);",
     "        m_messageBox(failure.message(), MessageKind::Failure);"),
    ("below-never-restated", "src/platform/linux/x11.cpp",
     "        if (!m_below) {", "        if (false) {", "e2e_daycycle"),
    ("form-timers-idle", "src/runtime/form.cpp",
     "    for (QTimer *timer : m_timers)\n        timer->start();", ""),
    ("form-close-lets-qt-close", "src/runtime/form.cpp",
     "        event->ignore();\n        m_runtime.invoke([this] { closeRequested(); });\n        return true;",
     "        return false;"),
    ("ideographic-space-binds", "src/runtime/textbreak.cpp",
     "return c == U' ' || c == U'\\u3000';", "return c == U' ';"),
    ("half-width-kana-wide", "src/runtime/textbreak.cpp",
     "    if (c >= 0xFF61 && c <= 0xFF9F) // half-width katakana\n        return false;", ""),
    ("unknown-lock-unsaid", "src/platform/platform.cpp",
     "if (m_instance.state() == SingleInstance::State::Unknown) {", "if (false) {"),
    ("bottom-flag-kept", "src/platform/platform.cpp",
     "flags.setFlag(Qt::WindowStaysOnBottomHint, place == StackPlace::Bottom);",
     "flags.setFlag(Qt::WindowStaysOnBottomHint, true);", "e2e_daycycle"),
    ("open-folder-unsaid", "src/platform/platform.cpp",
     "if (const QString open = os::folderOthersCanWrite(m_installFolder); !open.isEmpty()) {",
     "if (const QString open; !open.isEmpty()) {"),
    ("layout-number-typo", "src/calendar/form1layout.cpp",
     "{2040, 4200, 1335, 615}", "{2040, 4215, 1335, 615}"),
    ("offset-read-once", "src/runtime/clock.cpp",
     "    if (minute != m_minute) {", "    if (m_minute == -1) {"),
    ("fsync-skipped", "src/platform/linux/filesystem.cpp",
     "        while (::fsync(m_fd) != 0) {\n            if (errno != EINTR)\n                return fail(errno);\n        }",
     ""),
    ("in-the-way-kept", "src/platform/linux/singleinstance.cpp",
     "moved = ::renameat(dir, name.constData(), dir, aside.constData()) == 0;", "moved = false;"),
    ("old-folder-ignored", "src/platform/linux/folders.cpp",
     "settleDataFolder(earlier, data", "settleDataFolder(QString(), data"),
    ("helper-says-loaded-on-failure", "src/webhelper/main.cpp",
     'm_view->hide();\n            std::cout << "failed"', 'm_view->hide();\n            std::cout << "loaded"', "e2e_web_pane"),
    ("helper-never-still", "src/webhelper/main.cpp",
     "if (quiet >= StillMs || live >= LiveLimitMs)", "if (quiet >= 1000 * StillMs || live >= LiveLimitMs)", "e2e_web_pane"),
    ("helper-blind-to-change", "src/webhelper/main.cpp",
     "        if (picture != m_picture) {", "        if (m_picture.isNull()) {", "e2e_web_pane"),
    ("helper-blind-to-pointer", "src/webhelper/main.cpp",
     "if (m_view->underMouse() || hasUse(now))", "if (hasUse(now))", "e2e_web_pane"),
    ("still-not-shown", "src/platform/linux/webpage.cpp", "        showStill(m_pane, picture);\n", "", "e2e_web_pane"),
    ("wake-ignored", "src/platform/linux/webpage.cpp",
     "        m_asleep = false;\n        startHelper();\n        m_press = press;", "", "e2e_web_pane"),
    ("press-not-passed", "src/runtime/webbrowser.cpp",
     "m_page->wake(static_cast<QMouseEvent *>(event)->position().toPoint());", "m_page->wake(std::nullopt);"),
    ("early-press-lost", "src/runtime/webbrowser.cpp",
     "        m_pressed(event->position().toPoint());", "        QWidget::mousePressEvent(event);", "e2e_web_pane"),
    ("helper-outlives-stdin", "src/webhelper/main.cpp",
     "            QCoreApplication::exit(0);", "", "e2e_web_pane"),
    # Windows: built by scripts/windows/build.sh and tried under Wine
    ("win-mutex-shared", "src/platform/windows/singleinstance.cpp",
     "    if (GetLastError() == ERROR_ALREADY_EXISTS) {", "    if (false) {"),
    ("win-system-drive", "src/platform/windows/folders.cpp",
     "        top = current.left(2) + u'/';", "        top = QDir::rootPath();"),
    ("win-disk-full-unsaid", "src/platform/windows/filesystem.cpp",
     "    if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL)", "    if (false)"),
    ("win-any-trail-byte", "src/platform/windows/cp932.cpp",
     "} else if (isTrailByte(uchar(bytes[i + 1]))) {", "} else if (true) {"),
    ("win-not-at-bottom", "src/platform/windows/windows.cpp",
     "SetWindowPos(hwnd, HWND_BOTTOM,", "SetWindowPos(hwnd, HWND_TOP,"),
]


def run(*command, cwd):
    return subprocess.run(command, cwd=cwd, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0


def verdict(top, build, windows, file, hint):
    """Who catches the mutant now in the source, or None."""
    if file.startswith("src/platform/windows/"):
        if not run("scripts/windows/build.sh", str(windows), cwd=top):
            return "the compiler"
        with tempfile.TemporaryDirectory() as shots:
            if not run("tests/e2e/windows.sh", str(windows), shots, cwd=top):
                return "the tests under Wine"
        return None
    if not run("cmake", "--build", str(build), "-j2", cwd=top):
        return "the compiler"
    if not run("ctest", "--test-dir", str(build), "-L", "unit|faults", "-j2", "--stop-on-failure", cwd=top):
        return "the unit tests"
    if hint and not run("ctest", "--test-dir", str(build), "-R", hint, "-j2", cwd=top):
        return "the end-to-end tests"
    if not run("ctest", "--test-dir", str(build), "-L", "e2e", "-j2", cwd=top):
        return "the end-to-end tests"
    return None


def main():
    top = pathlib.Path(__file__).resolve().parent.parent
    args = sys.argv[1:]
    build = top / (args.pop(0) if args and not any(args[0] == m[0] for m in MUTANTS) else "build")
    windows = top / "build-windows"
    wanted = [m for m in MUTANTS if not args or m[0] in args]
    # A run killed mid-way left its mutant in the source: put the file back.
    record = build / "mutant-in-progress.json"
    if record.exists():
        left = json.loads(record.read_text())
        (top / left["file"]).write_text(left["original"])
        record.unlink()
        print(f"put back {left['file']}, left mutated by an interrupted run")
    rows = []
    for name, file, before, after, *hint in wanted:
        path = top / file
        original = path.read_text()
        if original.count(before) != 1:
            caught = None
            print(f"{name:30} NOT APPLIED: the line is not (once) in {file}")
        else:
            try:
                record.write_text(json.dumps({"file": file, "original": original}))
                path.write_text(original.replace(before, after))
                caught = verdict(top, build, windows, file, hint[0] if hint else None)
            finally:
                path.write_text(original)
                record.unlink()
            print(f"{name:30} " + (f"caught by {caught}" if caught else "SURVIVED"))
        sys.stdout.flush()
        rows.append((name, file, caught))
    run("cmake", "--build", str(build), "-j2", cwd=top)
    if any(file.startswith("src/platform/windows/") for _, file, _ in rows):
        run("scripts/windows/build.sh", str(windows), cwd=top)
    if not args:
        table = ["# Mutants", "",
                 "One-line faults put into the program by `scripts/mutants.py`, which",
                 "writes this table when it runs them all, and who caught each.", "",
                 "| mutant | file | caught by |", "|---|---|---|"]
        table += [f"| {name} | `{file}` | {caught or '**survived**'} |" for name, file, caught in rows]
        (top / "tests" / "mutants.md").write_text("\n".join(table) + "\n")
    return 1 if any(caught is None for _, _, caught in rows) else 0


if __name__ == "__main__":
    sys.exit(main())
