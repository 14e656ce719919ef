#include "net/shared_transport.h"
#include "ui/setup_status_source.h"
#include "ui/setup_window_win.h"
#include "ui/wide_text.h"

namespace Sorvane::setupui {
namespace {

constexpr int kLeftColumnX = 34;
constexpr int kRightColumnX = 430;
constexpr int kRowsTop = 552;
constexpr int kLabelWidth = 88;
constexpr int kLabelGap = 6;  // kept clear before the value

// The label font, or a smaller cut of it where the label would not fit (a wider substitute face).
HFONT LabelFont(SetupDialogState& s, const std::wstring& label) {
  if (TextWidthInFont(s.fonts.label, label) <= kLabelWidth - kLabelGap)
    return s.fonts.label;
  HFONT fitted = CreateFittingFont(kLabelFont, label, kLabelWidth - kLabelGap, -10);
  if (fitted == nullptr)
    return s.fonts.label;
  s.fittedFonts.push_back(fitted);
  return fitted;
}

bool IsSection(const char* group) {
  return std::string(group) == "LIVE STREAM" || std::string(group) == "NETWORK";
}

void AddHeading(SetupDialogState& s, const char* group, int x, int y) {
  const bool section = IsSection(group);
  HWND heading = AddControl(s, L"STATIC", ToWide(group), 0, Box(x, y, 200, 18), 0, s.fonts.section,
                            section ? kRoleSection : kRoleSubSection);
  SetWindowLongPtrW(heading, GWLP_USERDATA, kRoleAdvanced);
}

void AddRow(SetupDialogState& s, const StatusRowSpec& spec, int x, int y) {
  const HWND parts[3] = {
      AddIconControl(s, s.window, spec.glyph, Box(x, y, 18, 18)),
      AddControl(s, L"STATIC", ToWide(spec.label), SS_ENDELLIPSIS, Box(x + 22, y, kLabelWidth, 18),
                 0, LabelFont(s, ToWide(spec.label)), kRoleValue),
      AddControl(s, L"STATIC", L"\u2014", SS_ENDELLIPSIS, Box(x + 110, y, 246, 18), spec.id,
                 s.fonts.mono, kRolePlain)};
  for (HWND part : parts)
    SetWindowLongPtrW(part, GWLP_USERDATA, kRoleAdvanced);
  s.rowValues[spec.id] = parts[2];
}

}  // namespace

void CreateStatusRows(SetupDialogState& s) {
  for (bool right : {false, true}) {
    const int x = right ? kRightColumnX : kLeftColumnX;
    int y = kRowsTop;
    std::string group;
    for (const StatusRowSpec& spec : StatusRowSpecs()) {
      if (spec.rightColumn != right)
        continue;
      if (group != spec.group) {
        if (!group.empty())
          y += right ? 22 : 28;  // from the last row to the sub-section heading
        group = spec.group;
        AddHeading(s, spec.group, x, y);
        y += IsSection(spec.group) ? 22 : 20;
      } else {
        y += 22;
      }
      AddRow(s, spec, x, y);
    }
  }
}

void RefreshStatus(SetupDialogState& s) {
  const StreamStatusInputs in = ReadStreamStatus(SharedTransport::Instance());
  SetTextIfChanged(GetDlgItem(s.window, kStatusTextId), ToWide(DeviceStatusText(in)));
  HWND dot = GetDlgItem(s.window, kStatusDotId);
  const LONG_PTR streaming = IsStreaming(in) ? 1 : 0;
  if (GetWindowLongPtrW(dot, GWLP_USERDATA) != streaming) {
    SetWindowLongPtrW(dot, GWLP_USERDATA, streaming);
    InvalidateRect(dot, nullptr, FALSE);
  }
  SetTextIfChanged(GetDlgItem(s.window, kActiveEncoderId),
                   ToWide(ActiveEncoderText(in.encoderDescription)));
  for (const StatusRowValue& row : StreamStatusRowValues(in))
    SetRowValue(s, row.id, ToWide(row.text));
}

void SetRowValue(SetupDialogState& s, int id, const std::wstring& text) {
  HWND value = s.rowValues[id];
  if (!SetTextIfChanged(value, text))
    return;  // the font chosen for this text still holds
  RECT client;
  GetClientRect(value, &client);
  HFONT font = s.fonts.mono;
  for (int i = 0; i < kMonoSteps && TextWidthInFont(font, text) > client.right; ++i)
    font = s.fonts.monoSteps[i];
  if (reinterpret_cast<HFONT>(SendMessageW(value, WM_GETFONT, 0, 0)) != font)
    SendMessageW(value, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

}  // namespace Sorvane::setupui
