#pragma once

namespace trp {

class ErrorTrap;

// What the connection screen asks of the table selection screen. Each call is one numbered
// step of the caller's trapped procedure, so failures are the caller's to report.
class TableSelection {
public:
    virtual ~TableSelection() = default;

    // The screen's load: colours, icon, cursor, caption, and both lists refilled from the
    // current profiles.
    virtual void Form_Load() = 0;
    // One list refilled: the tables of database #1 (List1) or of database #2 (List2).
    virtual void FillList1() = 0;
    virtual void FillList2() = 0;
    virtual void Show() = 0;
    // Same-database marking as numbered lines of the caller's trap: the comparison of the two
    // profiles is first_line; for the same database both direction options are disabled and the
    // list frames say "(same file)" (first_line + 2 … + 8), otherwise the options are enabled and
    // the captions plain (first_line + 10 … + 16).
    virtual void MarkSameDatabase(ErrorTrap& trap, int first_line) = 0;
};

// The way between the two screens; the application decides what the screens are and when the
// table selection screen is made.
class Navigator {
public:
    virtual ~Navigator() = default;

    // The table selection screen, made (and loaded) on first use.
    virtual TableSelection& TableSelectionScreen() = 0;
    // The connection screen shown again ("Switch PostgreSQL DB").
    virtual void ShowConnectionScreen() = 0;
};

}  // namespace trp
