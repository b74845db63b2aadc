// The lookup over the record layouts: see record_layouts.h.
#include "layouts/record_layouts.h"

#include <strings.h>

const RecordLayout AllLayouts[] = {
    {"MGDNL17P", "Zutrittsdatei", RecordForm::FixedWidth, Mgdnl17p::RecordLength, Mgdnl17pFields,
     Mgdnl17p::FieldCount, Mgdnl17p::BadgeNumber},
    {"MGDNL18P", "Saldenanzeigedatei", RecordForm::FixedWidth, Mgdnl18p::RecordLength, Mgdnl18pFields,
     Mgdnl18p::FieldCount, Mgdnl18p::BadgeNumber},
    {"MGDNL31P", "Zutrittsklassendatei", RecordForm::FixedWidth, Mgdnl31p::RecordLength, Mgdnl31pFields,
     Mgdnl31p::FieldCount, Mgdnl31p::BadgeNumber},
    {"MGDNL60P", "Leserdatei", RecordForm::FixedWidth, Mgdnl60p::RecordLength, Mgdnl60pFields,
     Mgdnl60p::FieldCount, Mgdnl60p::BadgeNumber},
    {"IDSTAMM", "Ausweisstammdatei", RecordForm::QuotedLine, 0, IdStammFields, IdStamm::FieldCount,
     IdStamm::BadgeNumber},
};
const size_t LayoutCount = sizeof AllLayouts / sizeof AllLayouts[0];

const RecordLayout* LayoutByFunction(const char* name) {
  for (size_t i = 0; i < LayoutCount; ++i)
    if (strcasecmp(AllLayouts[i].Function, name) == 0) return &AllLayouts[i];
  return nullptr;
}

int FieldIndexByName(const RecordLayout& layout, const char* name) {
  for (size_t i = 0; i < layout.FieldCount; ++i)
    if (strcasecmp(layout.Fields[i].Name, name) == 0) return static_cast<int>(i);
  return -1;
}

std::string FieldPositionText(const FieldLayout& field) {
  if (field.Width == 0) return "Feld " + std::to_string(field.Position);
  if (field.Width == 1) return std::to_string(field.Position);
  return std::to_string(field.Position) + "-" + std::to_string(field.Position + field.Width - 1);
}
