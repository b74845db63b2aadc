// The trace switch: on with a fifth argument "/d". The writers and the
// queries then print their skip and lookup-failure messages, and a failed
// connect its diagnostics.
//
// The explain switch: gentrmx-explain sets ExplainBadge to the one badge
// number it explains. The badge walk then hands only that badge's rows to
// the writer, and the decisions of the queries and writers print their
// values through ExplainNote. In a download run ExplainBadge stays null and
// ExplainNote costs one comparison (its arguments are not evaluated).
#pragma once

extern bool DebugTrace;

extern const char* ExplainBadge;
// Every statement text is printed ("SQL> <text>") before it is sent.
extern bool ExplainSql;
// Rows of ExplainBadge that the badge query delivered in the last walk.
extern int ExplainRowsDelivered;

// Prints one note line: "  <text>\n", the text formatted as printf does,
// bytes above 127 shown as their UTF-8 characters and control bytes as
// \xNN. Use through ExplainNote.
void PrintExplainNote(const char* format, ...) __attribute__((format(printf, 1, 2)));
#define ExplainNote(...) (ExplainBadge == nullptr ? (void)0 : PrintExplainNote(__VA_ARGS__))

// text for a terminal, as PrintExplainNote shows it.
void PrintForTerminal(const char* text, unsigned long length);

// On in a program that prints UTF-8 (gentrmx-explain): texts from the
// database and the driver are then shown through PrintForTerminal; off,
// they go out as the Latin-1 bytes they are.
extern bool PrintUtf8;
// text as the program prints texts from the database and the driver.
void PrintDatabaseText(const char* text, unsigned long length);
