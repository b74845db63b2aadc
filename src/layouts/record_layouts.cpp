// The lookup over the record layouts: see record_layouts.h.
#include "layouts/record_layouts.h"

#include <strings.h>

namespace {

template <size_t N>
constexpr size_t CountOf(const FieldLayout (&)[N]) { return N; }

}  // namespace

const RecordLayout AllLayouts[] = {
    {"MGDNL17P", "Zutrittsdatei", RecordForm::FixedWidth, Mgdnl17p::RecordLength, Mgdnl17pFields,
     CountOf(Mgdnl17pFields), Mgdnl17p::BadgeNumber},
    {"MGDNL18P", "Saldenanzeigedatei", RecordForm::FixedWidth, Mgdnl18p::RecordLength, Mgdnl18pFields,
     CountOf(Mgdnl18pFields), Mgdnl18p::BadgeNumber},
    {"MGDNL31P", "Zutrittsklassendatei", RecordForm::FixedWidth, Mgdnl31p::RecordLength, Mgdnl31pFields,
     CountOf(Mgdnl31pFields), Mgdnl31p::BadgeNumber},
    {"MGDNL60P", "Leserdatei", RecordForm::FixedWidth, Mgdnl60p::RecordLength, Mgdnl60pFields,
     CountOf(Mgdnl60pFields), Mgdnl60p::BadgeNumber},
    {"IDSTAMM", "Ausweisstammdatei", RecordForm::QuotedLine, 0, IdStammFields, CountOf(IdStammFields),
     IdStamm::BadgeNumber},
};
const size_t LayoutCount = sizeof AllLayouts / sizeof AllLayouts[0];

const RecordLayout* LayoutByFunction(const char* name) {
  for (size_t i = 0; i < LayoutCount; ++i)
    if (strcasecmp(AllLayouts[i].Function, name) == 0) return &AllLayouts[i];
  return nullptr;
}

const RecordLayout* LayoutByRecordLength(size_t length) {
  for (size_t i = 0; i < LayoutCount; ++i)
    if (AllLayouts[i].Form == RecordForm::FixedWidth && AllLayouts[i].RecordLength == length) return &AllLayouts[i];
  return nullptr;
}

int FieldIndexByName(const RecordLayout& layout, const char* name) {
  for (size_t i = 0; i < layout.FieldCount; ++i)
    if (strcasecmp(layout.Fields[i].Name, name) == 0) return static_cast<int>(i);
  return -1;
}
