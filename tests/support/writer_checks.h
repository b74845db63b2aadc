// Shared by the tests of the fixed-length download files: the texts a run
// prints, how a file falls into records, the statements a writer sends per
// badge, and a fixture that runs one writer for terminal T1 against an
// empty scratch installation.
#pragma once
#include <gtest/gtest.h>

#include <cstddef>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "installation.h"

std::string Blanks(size_t n);

// The line that closes every writer's run.
std::string SummaryLine(int total, int written);

// Cuts a file into records of recordLength bytes; a file that is not a
// whole number of records fails the test.
std::vector<std::string> CutRecords(const std::string& file, size_t recordLength);

// One reader group of the access and reader files: two characters of reader
// number, three of class or location text.
std::string ReaderGroup(const std::string& reader = "  ", const std::string& text = "   ");

// What each logged statement asks, in order ("balance", "time", "readers",
// "classes", "location"); the terminal lookup and the badge cursor are
// left out.
std::vector<std::string> PerBadgeQueries(const std::vector<std::string>& log);

// The reader query for terminal T1 with readers up to limit.
std::string ReaderQuery(int limit);

// The messages of a run over the badges of AddOverlongBadges: badge
// 12345678901234 and the classes ABCD (K1) and WXYZ (K2) do not fit into
// file and are left out; four badges are counted, two written.
void ExpectOverlongMessages(const std::string& out, const std::string& file);

// A badge without the permission a file needs is named ("Ausweis <badge>
// ohne <permission> auf Terminal T1") in traced runs only.
// ExpectQuietRun: a run without /d that ended well, named no badge so, and
// counted total badges, written of them.
void ExpectQuietRun(const RunResult& quiet, const std::string& permission, int total, int written);
// ExpectRefusal: a traced run that named badge refused, and not permitted.
void ExpectRefusal(const RunResult& traced, const std::string& permission, const std::string& refused,
                   const std::string& permitted);

// Terminal T1 (model M1, balance set S1) without client rows: the tool then
// reads all badges valid today. Each test writes file `Writer` to out.dnl
// below the installation's root.
class WriterFileTest : public ::testing::Test {
 protected:
  WriterFileTest(std::string writer, size_t recordLength) : Writer(std::move(writer)), RecordSize(recordLength) {}

  void SetUp() override;

  // A badge valid since 1 March 2024 (until: SQL text), personnel number
  // "P" and the badge number, with its location assignment.
  void AddBadge(const std::string& number, const std::string& location = "", const std::string& until = "NULL");
  // A badge reached through T1's client row (licence 1, client 2), without
  // valid-from date and valid until 31 December 2999, with that many
  // location rows (so delivered that many times).
  void AddClientBadgeWithoutValidFrom(const std::string& number, int locationRows = 1);
  // A location and its text (SQL text).
  void AddLocation(const std::string& location, const std::string& text);
  // Class of a badge that T1 accepts; kind '1' time booking, '0' access.
  void AddClass(const std::string& number, const std::string& cls, const char* kind);
  void AddReaders(std::initializer_list<int> numbers);
  // Badges 12345678901234 (one character too long) and 1234567890123, both
  // with class cls of that kind; K1 with the access classes k1Classes, in
  // that order; K2 with access class WXYZ.
  void AddOverlongBadges(const std::string& cls, const char* kind, std::initializer_list<const char*> k1Classes);

  RunResult Run(bool debug = false, bool sqlLog = false);
  // Runs over one badge delivered twice: these files have no duplicate
  // test, so both rows are counted and written, the same record twice;
  // that record in *record. Call with ASSERT_NO_FATAL_FAILURE.
  void RunOverBadgeDeliveredTwice(std::string* record);
  std::vector<std::string> Records() { return CutRecords(Inst.ReadFile("out.dnl"), RecordSize); }

  const std::string Writer;
  const size_t RecordSize;
  ScratchInstallation Inst = ScratchInstallation::Empty();
};
