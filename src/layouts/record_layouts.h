// The record layouts of the download files, as data: for each function one
// table of its fields, with name, place, width and meaning. The writers
// place their fields through these tables, the operator tools decode files
// with them. No database code here: the tools link this without ODBC.
//
// Positions are 1-based, as the layouts are usually written down: a field
// covers Position to Position + Width - 1.
// In a fixed-width record every byte belongs to exactly one field (unused
// ranges are "Frei" fields of kind Filler); the static_asserts below check
// that the fields of each table tile their record. IDSTAMM has no fixed
// positions: there Position is the field number (1 to 14) and Width is 0.
//
// A writer places a field through its enum index:
//
//   PlaceField(Record, Mgdnl31p::RecordLength, Mgdnl31pFields[Mgdnl31p::ValidFrom], Badge.AswGvo);
//
// or, for the reader groups, Mgdnl17pFields[Mgdnl17p::ReaderField(k)].
#pragma once
#include <string>
#include <cstddef>
#include <cstdint>

// What a field holds; the tools decide by it how to check and compare.
enum class FieldKind : uint8_t {
  BadgeNumber,   // the badge number: the key of a badge's records
  Date,          // YYYYMMDD ("00000000" or empty when none)
  Flag,          // "0" or "1"
  Balance,       // a balance value: six characters and the sign
  Reader,        // the two digits of a reader number, or blanks
  AccessClass,   // the class a record stands for; one record per class
  Location,      // location short text or number
  Constant,      // always the text in FieldLayout::Constant
  DisplayText,   // MGDNL18P: a display group's text
  DisplayValue,  // MGDNL18P: the value shown beside it
  Text,          // any other text
  Filler,        // unused, blank
};

struct FieldLayout {
  const char* Name;      // column name: short, unique in its table, no blanks
  uint16_t Position;     // first position, 1-based (IDSTAMM: field number)
  uint16_t Width;        // characters (IDSTAMM: 0, the field is as long as its text)
  FieldKind Kind;
  uint8_t Group;         // reader or display group 1 to 11; 0 for none
  const char* Meaning;   // German, short
  const char* Constant;  // the fixed text of a Constant field, else nullptr
};

enum class RecordForm : uint8_t {
  FixedWidth,  // records of RecordLength characters, nothing between them
  QuotedLine,  // lines of quoted, comma-separated fields ending in CR LF
};

struct RecordLayout {
  const char* Function;  // the download function, as on the command line
  const char* Title;     // German
  RecordForm Form;
  size_t RecordLength;   // characters per record; 0 for quoted lines
  const FieldLayout* Fields;
  size_t FieldCount;
  size_t KeyField;       // index of the badge number
};

// ---------------------------------------------------------------- MGDNL17P
namespace Mgdnl17p {
constexpr size_t RecordLength = 85;
constexpr int GroupCount = 11;     // reader groups 1 to 11, 5 characters each
constexpr int ClassGroups = 6;     // groups 1 to 6 carry the access class
constexpr int LocationGroup = 7;   // group 7 carries the location text
enum Field : uint8_t {
  BadgeNumber, ValidFrom, TimePermission, AccessPermission, Balance,
  Reader1, Class1, Reader2, Class2, Reader3, Class3, Reader4, Class4,
  Reader5, Class5, Reader6, Class6, Reader7, Location7,
  Reader8, Free8, Reader9, Free9, Reader10, Free10, Reader11, Free11,
  FieldCount
};
// The reader number field of group k (1 to 11); the field behind it (class,
// location or filler) is ReaderField(k) + 1.
constexpr Field ReaderField(int group) { return static_cast<Field>(Reader1 + 2 * (group - 1)); }
constexpr Field ClassField(int group) { return static_cast<Field>(Class1 + 2 * (group - 1)); }
}  // namespace Mgdnl17p

// The front that the reader records MGDNL17P and MGDNL60P share: badge
// number, valid-from, the two permission flags, the balance (meaning: which
// balance field) and reader groups 1 to 3 with their access classes.
#define GENTRMX_READER_RECORD_FRONT(balanceMeaning)                                      \
  {"Ausweis", 1, 13, FieldKind::BadgeNumber, 0, "Ausweisnummer", nullptr},               \
      {"GueltigAb", 14, 8, FieldKind::Date, 0, "gueltig ab", nullptr},                   \
      {"Zeit", 22, 1, FieldKind::Flag, 0, "Zeitberechtigung", nullptr},                  \
      {"Zutritt", 23, 1, FieldKind::Flag, 0, "Zutrittsberechtigung", nullptr},           \
      {"Saldo", 24, 7, FieldKind::Balance, 0, balanceMeaning, nullptr},                  \
      {"L1", 31, 2, FieldKind::Reader, 1, "Leser 1", nullptr},                           \
      {"K1", 33, 3, FieldKind::AccessClass, 1, "Zutrittsklasse Lesergruppe 1", nullptr}, \
      {"L2", 36, 2, FieldKind::Reader, 2, "Leser 2", nullptr},                           \
      {"K2", 38, 3, FieldKind::AccessClass, 2, "Zutrittsklasse Lesergruppe 2", nullptr}, \
      {"L3", 41, 2, FieldKind::Reader, 3, "Leser 3", nullptr},                           \
      {"K3", 43, 3, FieldKind::AccessClass, 3, "Zutrittsklasse Lesergruppe 3", nullptr}

inline constexpr FieldLayout Mgdnl17pFields[] = {
    GENTRMX_READER_RECORD_FRONT("Saldo W02"),
    {"L4", 46, 2, FieldKind::Reader, 4, "Leser 4", nullptr},
    {"K4", 48, 3, FieldKind::AccessClass, 4, "Zutrittsklasse Lesergruppe 4", nullptr},
    {"L5", 51, 2, FieldKind::Reader, 5, "Leser 5", nullptr},
    {"K5", 53, 3, FieldKind::AccessClass, 5, "Zutrittsklasse Lesergruppe 5", nullptr},
    {"L6", 56, 2, FieldKind::Reader, 6, "Leser 6", nullptr},
    {"K6", 58, 3, FieldKind::AccessClass, 6, "Zutrittsklasse Lesergruppe 6", nullptr},
    {"L7", 61, 2, FieldKind::Reader, 7, "Leser 7 (auch bei Standorttext)", nullptr},
    {"Ort", 63, 3, FieldKind::Location, 7, "Standorttext", nullptr},
    {"L8", 66, 2, FieldKind::Reader, 8, "Leser 8", nullptr},
    {"Frei8", 68, 3, FieldKind::Filler, 8, "frei", nullptr},
    {"L9", 71, 2, FieldKind::Reader, 9, "Leser 9", nullptr},
    {"Frei9", 73, 3, FieldKind::Filler, 9, "frei", nullptr},
    {"L10", 76, 2, FieldKind::Reader, 10, "Leser 10", nullptr},
    {"Frei10", 78, 3, FieldKind::Filler, 10, "frei", nullptr},
    {"L11", 81, 2, FieldKind::Reader, 11, "Leser 11", nullptr},
    {"Frei11", 83, 3, FieldKind::Filler, 11, "frei", nullptr},
};

// ---------------------------------------------------------------- MGDNL18P
namespace Mgdnl18p {
constexpr size_t RecordLength = 173;
constexpr int GroupCount = 8;  // display groups, 20 characters each from 14
enum Field : uint8_t {
  BadgeNumber,
  Text1, Value1, Text2, Value2, Text3, Value3, Text4, Value4,
  Text5, Value5, Text6, Value6, Text7, Value7, Text8, Value8,
  FieldCount
};
constexpr Field TextField(int group) { return static_cast<Field>(Text1 + 2 * (group - 1)); }
constexpr Field ValueField(int group) { return static_cast<Field>(Value1 + 2 * (group - 1)); }
}  // namespace Mgdnl18p

inline constexpr FieldLayout Mgdnl18pFields[] = {
    {"Ausweis", 1, 13, FieldKind::BadgeNumber, 0, "Ausweisnummer", nullptr},
    {"Text1", 14, 13, FieldKind::DisplayText, 1, "Anzeigetext 1", nullptr},
    {"Wert1", 27, 7, FieldKind::DisplayValue, 1, "Anzeigewert 1", nullptr},
    {"Text2", 34, 13, FieldKind::DisplayText, 2, "Anzeigetext 2", nullptr},
    {"Wert2", 47, 7, FieldKind::DisplayValue, 2, "Anzeigewert 2", nullptr},
    {"Text3", 54, 13, FieldKind::DisplayText, 3, "Anzeigetext 3", nullptr},
    {"Wert3", 67, 7, FieldKind::DisplayValue, 3, "Anzeigewert 3", nullptr},
    {"Text4", 74, 13, FieldKind::DisplayText, 4, "Anzeigetext 4", nullptr},
    {"Wert4", 87, 7, FieldKind::DisplayValue, 4, "Anzeigewert 4", nullptr},
    {"Text5", 94, 13, FieldKind::DisplayText, 5, "Anzeigetext 5", nullptr},
    {"Wert5", 107, 7, FieldKind::DisplayValue, 5, "Anzeigewert 5", nullptr},
    {"Text6", 114, 13, FieldKind::DisplayText, 6, "Anzeigetext 6", nullptr},
    {"Wert6", 127, 7, FieldKind::DisplayValue, 6, "Anzeigewert 6", nullptr},
    {"Text7", 134, 13, FieldKind::DisplayText, 7, "Anzeigetext 7", nullptr},
    {"Wert7", 147, 7, FieldKind::DisplayValue, 7, "Anzeigewert 7", nullptr},
    {"Text8", 154, 13, FieldKind::DisplayText, 8, "Anzeigetext 8", nullptr},
    {"Wert8", 167, 7, FieldKind::DisplayValue, 8, "Anzeigewert 8", nullptr},
};

// The other columns of a display group, over its text and value fields: a
// value of more than 10 characters takes all 20 positions (long value), the
// date of the first "#W1" group the last text position and the 7 value
// positions, and in groups 5 to 8 a definition with column selector 2 puts
// 12 characters of text one position further right.
namespace Mgdnl18p {
constexpr FieldLayout LongValue(int group) {
  return {"LangWert", Mgdnl18pFields[TextField(group)].Position,
          static_cast<uint16_t>(Mgdnl18pFields[TextField(group)].Width + Mgdnl18pFields[ValueField(group)].Width),
          FieldKind::DisplayValue, static_cast<uint8_t>(group), "langer Anzeigewert", nullptr};
}
constexpr FieldLayout DateColumn(int group) {
  return {"Datum", static_cast<uint16_t>(Mgdnl18pFields[ValueField(group)].Position - 1),
          static_cast<uint16_t>(Mgdnl18pFields[ValueField(group)].Width + 1), FieldKind::DisplayValue,
          static_cast<uint8_t>(group), "Tagesdatum TT.MM.JJ", nullptr};
}
constexpr FieldLayout ShiftedText(int group) {
  return {"TextSp2", static_cast<uint16_t>(Mgdnl18pFields[TextField(group)].Position + 1),
          static_cast<uint16_t>(Mgdnl18pFields[TextField(group)].Width - 1), FieldKind::DisplayText,
          static_cast<uint8_t>(group), "Anzeigetext, Spalte 2", nullptr};
}
// Model "7598-002" shows groups 1 to 4 only: from here on all blank.
constexpr size_t FourGroupBlankFrom = Mgdnl18pFields[TextField(5)].Position;
}  // namespace Mgdnl18p

// ---------------------------------------------------------------- MGDNL31P
namespace Mgdnl31p {
constexpr size_t RecordLength = 48;
enum Field : uint8_t {
  BadgeNumber, ValidFrom, ValidUntil, TimePermission, AccessPermission, Amount, Count, AccessClass, Location,
  FieldCount
};
}  // namespace Mgdnl31p

inline constexpr FieldLayout Mgdnl31pFields[] = {
    {"Ausweis", 1, 13, FieldKind::BadgeNumber, 0, "Ausweisnummer", nullptr},
    {"GueltigAb", 14, 8, FieldKind::Date, 0, "gueltig ab", nullptr},
    {"GueltigBis", 22, 8, FieldKind::Date, 0, "gueltig bis", nullptr},
    {"Zeit", 30, 1, FieldKind::Flag, 0, "Zeitberechtigung", nullptr},
    {"Zutritt", 31, 1, FieldKind::Flag, 0, "Zutrittsberechtigung", nullptr},
    {"Betrag", 32, 8, FieldKind::Constant, 0, "Konstante XXXX,XX-", "XXXX,XX-"},
    {"Anzahl", 40, 3, FieldKind::Constant, 0, "Konstante 001", "001"},
    {"Klasse", 43, 3, FieldKind::AccessClass, 0, "Zutrittsklasse", nullptr},
    {"Ort", 46, 3, FieldKind::Location, 0, "Standorttext", nullptr},
};

// ---------------------------------------------------------------- MGDNL60P
namespace Mgdnl60p {
constexpr size_t RecordLength = 45;
constexpr int GroupCount = 3;  // reader groups 1 to 3, 5 characters each
enum Field : uint8_t {
  BadgeNumber, ValidFrom, TimePermission, AccessPermission, Balance,
  Reader1, Class1, Reader2, Class2, Reader3, Class3,
  FieldCount
};
constexpr Field ReaderField(int group) { return static_cast<Field>(Reader1 + 2 * (group - 1)); }
constexpr Field ClassField(int group) { return static_cast<Field>(Class1 + 2 * (group - 1)); }
}  // namespace Mgdnl60p

inline constexpr FieldLayout Mgdnl60pFields[] = {
    GENTRMX_READER_RECORD_FRONT("Saldo W09"),
};
#undef GENTRMX_READER_RECORD_FRONT

// ----------------------------------------------------------------- IDSTAMM
namespace IdStamm {
enum Field : uint8_t {
  BadgeNumber, ValidFrom, ValidUntil, Location, TimePermission, AccessPermission, Language, BalanceSet,
  Count, AccessClass, Name, BadgeNumberAgain, BadgeType, Pin,
  FieldCount
};
}  // namespace IdStamm

inline constexpr FieldLayout IdStammFields[] = {
    {"Ausweis", 1, 0, FieldKind::BadgeNumber, 0, "Ausweisnummer", nullptr},
    {"GueltigAb", 2, 0, FieldKind::Date, 0, "gueltig ab", nullptr},
    {"GueltigBis", 3, 0, FieldKind::Date, 0, "gueltig bis", nullptr},
    {"Standort", 4, 0, FieldKind::Location, 0, "Standortnummer", nullptr},
    {"Zeit", 5, 0, FieldKind::Flag, 0, "Zeitberechtigung", nullptr},
    {"Zutritt", 6, 0, FieldKind::Flag, 0, "Zutrittsberechtigung", nullptr},
    {"Sprache", 7, 0, FieldKind::Text, 0, "Sprache", nullptr},
    {"Saldensatz", 8, 0, FieldKind::Text, 0, "Saldensatz", nullptr},
    {"Anzahl", 9, 0, FieldKind::Constant, 0, "Konstante 001", "001"},
    {"Klasse", 10, 0, FieldKind::AccessClass, 0, "Zutrittsklasse (ohne Zutritt: Buchungsklasse)", nullptr},
    {"Name", 11, 0, FieldKind::Text, 0, "Name", nullptr},
    {"Ausweis2", 12, 0, FieldKind::Text, 0, "Ausweisnummer (wiederholt)", nullptr},
    {"Typ", 13, 0, FieldKind::Text, 0, "Ausweistyp", nullptr},
    {"PIN", 14, 0, FieldKind::Text, 0, "PIN", nullptr},
};

// ------------------------------------------------------------------ checks
// True when the fields follow one another from position 1 without gap or
// overlap and end exactly at the record's last position.
template <size_t N>
constexpr bool FieldsTile(const FieldLayout (&fields)[N], size_t recordLength) {
  size_t next = 1;
  for (size_t i = 0; i < N; ++i) {
    if (fields[i].Position != next || fields[i].Width == 0) return false;
    next += fields[i].Width;
  }
  return next == recordLength + 1;
}

// True when every Constant field has its text, as long as the field.
template <size_t N>
constexpr bool ConstantsFit(const FieldLayout (&fields)[N]) {
  for (size_t i = 0; i < N; ++i) {
    if ((fields[i].Kind == FieldKind::Constant) != (fields[i].Constant != nullptr)) return false;
    if (fields[i].Constant == nullptr || fields[i].Width == 0) continue;
    size_t n = 0;
    while (fields[i].Constant[n] != '\0') ++n;
    if (n != fields[i].Width) return false;
  }
  return true;
}

// True when the fields are numbered 1 to N in order.
template <size_t N>
constexpr bool FieldsNumbered(const FieldLayout (&fields)[N]) {
  for (size_t i = 0; i < N; ++i)
    if (fields[i].Position != i + 1 || fields[i].Width != 0) return false;
  return true;
}

static_assert(FieldsTile(Mgdnl17pFields, Mgdnl17p::RecordLength), "MGDNL17P fields do not tile the record");
static_assert(FieldsTile(Mgdnl18pFields, Mgdnl18p::RecordLength), "MGDNL18P fields do not tile the record");
static_assert(FieldsTile(Mgdnl31pFields, Mgdnl31p::RecordLength), "MGDNL31P fields do not tile the record");
static_assert(FieldsTile(Mgdnl60pFields, Mgdnl60p::RecordLength), "MGDNL60P fields do not tile the record");
static_assert(FieldsNumbered(IdStammFields), "IDSTAMM fields are not numbered 1 to 14");
static_assert(ConstantsFit(Mgdnl17pFields) && ConstantsFit(Mgdnl18pFields) && ConstantsFit(Mgdnl31pFields) &&
                  ConstantsFit(Mgdnl60pFields) && ConstantsFit(IdStammFields),
              "a Constant field without its text, or a text not as wide as its field");
static_assert(sizeof Mgdnl17pFields / sizeof Mgdnl17pFields[0] == Mgdnl17p::FieldCount, "MGDNL17P index");
static_assert(sizeof Mgdnl18pFields / sizeof Mgdnl18pFields[0] == Mgdnl18p::FieldCount, "MGDNL18P index");
static_assert(sizeof Mgdnl31pFields / sizeof Mgdnl31pFields[0] == Mgdnl31p::FieldCount, "MGDNL31P index");
static_assert(sizeof Mgdnl60pFields / sizeof Mgdnl60pFields[0] == Mgdnl60p::FieldCount, "MGDNL60P index");
static_assert(sizeof IdStammFields / sizeof IdStammFields[0] == IdStamm::FieldCount, "IDSTAMM index");
// The enum names and the table agree where the writers rely on it.
static_assert(Mgdnl17pFields[Mgdnl17p::ValidFrom].Position == 14 && Mgdnl17pFields[Mgdnl17p::Balance].Position == 24 &&
                  Mgdnl17pFields[Mgdnl17p::ReaderField(7)].Position == 61 &&
                  Mgdnl17pFields[Mgdnl17p::ClassField(6)].Position == 58 &&
                  Mgdnl17pFields[Mgdnl17p::Location7].Kind == FieldKind::Location,
              "MGDNL17P enum");
static_assert(Mgdnl18pFields[Mgdnl18p::TextField(8)].Position == 154 &&
                  Mgdnl18pFields[Mgdnl18p::ValueField(1)].Position == 27,
              "MGDNL18P enum");
static_assert(Mgdnl18p::LongValue(2).Position == 34 && Mgdnl18p::LongValue(2).Width == 20 &&
                  Mgdnl18p::DateColumn(1).Position == 26 && Mgdnl18p::DateColumn(1).Width == 8 &&
                  Mgdnl18p::ShiftedText(5).Position == 95 && Mgdnl18p::ShiftedText(5).Width == 12 &&
                  Mgdnl18p::FourGroupBlankFrom == 94,
              "MGDNL18P columns over the group fields");
static_assert(Mgdnl31pFields[Mgdnl31p::AccessClass].Position == 43 && Mgdnl31pFields[Mgdnl31p::ValidUntil].Position == 22,
              "MGDNL31P enum");
static_assert(Mgdnl60pFields[Mgdnl60p::ReaderField(3)].Position == 41 &&
                  Mgdnl60pFields[Mgdnl60p::ClassField(1)].Position == 33,
              "MGDNL60P enum");
static_assert(IdStammFields[IdStamm::AccessClass].Position == 10 && IdStammFields[IdStamm::Pin].Position == 14,
              "IDSTAMM enum");

// ------------------------------------------------------------------ lookup
// The five layouts, in the order MGDNL17P, MGDNL18P, MGDNL31P, MGDNL60P,
// IDSTAMM.
extern const RecordLayout AllLayouts[];
extern const size_t LayoutCount;

// By function name, case-insensitive; nullptr when there is none.
const RecordLayout* LayoutByFunction(const char* name);
// "p" or "p-q" (1-based, inclusive) of a fixed-width field, "Feld n" of a
// field of a quoted line.
std::string FieldPositionText(const FieldLayout& field);
// Index of the field with that name (case-insensitive) in layout, or -1.
int FieldIndexByName(const RecordLayout& layout, const char* name);
