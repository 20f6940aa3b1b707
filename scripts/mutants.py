#!/usr/bin/env python3
"""Which one-line faults the test suite catches.

Each mutant below changes one line of the program. For each, the build in
BUILD_DIR (default build/) is rebuilt and the unit tests are run; a mutant
they miss is tried against the end-to-end tests too. The file is always put
back. Prints one line per mutant and exits 1 if any survived.

usage: scripts/mutants.py [BUILD_DIR] [NAME...]
"""
import json
import pathlib
import subprocess
import sys

# name, file, the text as it is, the fault
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
     "const bool takeFocus = std::exchange(FocusAtShow, false) || splashWasActive;",
     "const bool takeFocus = std::exchange(FocusAtShow, false) || splashWasActive || true;"),
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
    ("leftover-by-prefix", "src/startup/filesystem.cpp",
     "if (candidate.size() != prefix.size() + Letters || !candidate.startsWith(prefix))",
     "if (!candidate.startsWith(prefix))"),
    ("leftover-of-anyone", "src/startup/filesystem_posix.cpp",
     "&& info.st_uid == ::geteuid())\n        ::unlink", ")\n        ::unlink"),
    ("anyones-link-followed", "src/startup/filesystem_posix.cpp",
     "        if (info.st_uid != user) {\n            return refuse(\n",
     "        if (false) {\n            return refuse(\n"),
    ("short-write-trusted", "src/startup/filesystem_posix.cpp",
     "            done += n;", "            done = bytes.size();"),
    ("folder-sync-unsaid", "src/startup/filesystem_posix.cpp",
     "if (error && error != EINVAL && error != ENOTSUP) {", "if (false) {"),
    ("cut-line-unasked", "src/calendar/form1.cpp", "if (MemoBytesUnread > 0", "if (MemoBytesUnread < 0"),
    ("box-cuts-silently", "src/runtime/controls.cpp",
     "return m_box->refuses(input) ? Invalid : Acceptable;", "return Acceptable;"),
    ("leftovers-kept", "src/startup/form2.cpp",
     "    removeLeftoverSaves(paths);", "    (void)paths;"),
    ("wave-dash-unmapped", "src/startup/cp932.cpp",
     "{u'\\u301C', u'\\uFF5E'}, // wave dash", "{u'\\u301C', u'\\u301C'}, // wave dash"),
    ("lead-byte-dropped", "src/startup/cp932.cpp",
     "    if (wholeCharacters(bytes) < bytes.size())", "    if (false)"),
    ("choice-case-blind", "src/startup/form2.cpp",
     'choice == QLatin1String("Y")', 'choice.compare(QLatin1String("Y"), Qt::CaseInsensitive) == 0'),
    ("yes-stores-n", "src/question/form3.cpp", '    answer("Y");', '    answer("N");'),
    ("warnings-every-day", "src/startup/form2.cpp",
     "    if (std::exchange(WarningsShown, true))\n        return;", ""),
    ("lock-never-held", "src/runtime/singleinstance_unix.cpp",
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
     "return std::max(areaStart, start + 0 * (length + areaLength));"),
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
    ("below-never-restated", "src/runtime/platform_x11.cpp",
     "        if (!m_below) {", "        if (false) {"),
]


def run(*command, cwd):
    return subprocess.run(command, cwd=cwd, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0


def main():
    top = pathlib.Path(__file__).resolve().parent.parent
    args = sys.argv[1:]
    build = top / (args.pop(0) if args and not any(args[0] == m[0] for m in MUTANTS) else "build")
    wanted = [m for m in MUTANTS if not args or m[0] in args]
    # A run killed mid-way left its mutant in the source: put the file back.
    record = build / "mutant-in-progress.json"
    if record.exists():
        left = json.loads(record.read_text())
        (top / left["file"]).write_text(left["original"])
        record.unlink()
        print(f"put back {left['file']}, left mutated by an interrupted run")
    survivors = []
    for name, file, before, after in wanted:
        path = top / file
        original = path.read_text()
        if original.count(before) != 1:
            print(f"{name:24} NOT APPLIED: the line is not (once) in {file}")
            survivors.append(name)
            continue
        try:
            record.write_text(json.dumps({"file": file, "original": original}))
            path.write_text(original.replace(before, after))
            if not run("cmake", "--build", str(build), "-j2", cwd=top):
                print(f"{name:24} caught by the compiler")
                continue
            if not run("ctest", "--test-dir", str(build), "-L", "unit|faults", "-j2", "--stop-on-failure",
                       cwd=top):
                print(f"{name:24} caught by the unit tests")
            elif not run("ctest", "--test-dir", str(build), "-L", "e2e", "-j2", cwd=top):
                print(f"{name:24} caught by the end-to-end tests")
            else:
                print(f"{name:24} SURVIVED")
                survivors.append(name)
        finally:
            path.write_text(original)
            record.unlink()
            sys.stdout.flush()
    run("cmake", "--build", str(build), "-j2", cwd=top)
    return 1 if survivors else 0


if __name__ == "__main__":
    sys.exit(main())
