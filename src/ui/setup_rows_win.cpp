#include "net/shared_transport.h"
#include "ui/setup_status_source.h"
#include "ui/setup_window_win.h"
#include "ui/wide_text.h"

namespace Sorvane::setupui {
namespace {

constexpr int kLeftColumnX = 34;
constexpr int kRightColumnX = 430;
constexpr int kRowsTop = 552;
constexpr int kMaxTrustedRows = 30;

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
  const wchar_t glyph[2] = {spec.glyph, 0};
  const HWND parts[3] = {
      AddControl(s, L"STATIC", glyph, 0, Box(x, y, 18, 18), 0, s.fonts.icons, kRoleIcon),
      AddControl(s, L"STATIC", ToWide(spec.label), SS_ENDELLIPSIS, Box(x + 22, y, 88, 18), 0,
                 s.fonts.label, kRoleValue),
      AddControl(s, L"STATIC", L"\u2014", SS_ENDELLIPSIS, Box(x + 110, y, 246, 18), spec.id,
                 s.fonts.mono, kRolePlain)};
  for (HWND part : parts)
    SetWindowLongPtrW(part, GWLP_USERDATA, kRoleAdvanced);
  s.rowValues[spec.id] = parts[2];
}

void DestroyTrustedControls(SetupDialogState& s) {
  for (const TrustedRow& row : s.trustedRows)
    for (HWND control : {row.icon, row.name, row.line, row.forget})
      if (control)
        DestroyWindow(control);
  s.trustedRows.clear();
  if (s.emptyTrustedLabel)
    DestroyWindow(s.emptyTrustedLabel);
  s.emptyTrustedLabel = nullptr;
}

std::string Signature(const std::vector<TrustedPeer>& peers) {
  std::string signature;
  for (const TrustedPeer& peer : peers)
    signature += peer.id + "|" + peer.name + "|" + peer.firstPaired + ";";
  return signature;
}

TrustedRow AddTrustedRow(SetupDialogState& s, const TrustedPeer& peer, int index, int x, int y,
                         int w) {
  TrustedRow row;
  row.peerId = peer.id;
  row.icon =
      AddControl(s, L"STATIC", L"\xE8EA", 0, Box(x, y + 6, 22, 22), 0, s.fonts.icons, kRoleIcon);
  row.name = AddControl(s, L"STATIC", ToWide(peer.name.empty() ? "(unnamed iPhone)" : peer.name),
                        SS_ENDELLIPSIS | SS_NOPREFIX, Box(x + 30, y + 2, w - 110, 18), 0,
                        s.fonts.bodyBold, kRolePlain);
  row.line =
      AddControl(s, L"STATIC", ToWide(peer.firstPaired.empty() ? "" : "paired " + peer.firstPaired),
                 SS_ENDELLIPSIS, Box(x + 30, y + 20, w - 110, 16), 0, s.fonts.small, kRoleValue);
  row.forget =
      AddControl(s, L"BUTTON", L"Forget", WS_TABSTOP | BS_OWNERDRAW, Box(x + w - 70, y + 8, 70, 24),
                 kFirstForgetId + 10 * index, s.fonts.body, kRolePlain);
  return row;
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
    SetTextIfChanged(s.rowValues[row.id], ToWide(row.text));
}

void RebuildTrustedList(SetupDialogState& s) {
  std::vector<TrustedPeer> peers = trusted::LoadAll();
  std::string signature = Signature(peers);
  if (signature == s.trustedSignature && (s.emptyTrustedLabel || !s.trustedRows.empty()))
    return;
  s.trustedSignature = std::move(signature);
  s.peers = std::move(peers);
  DestroyTrustedControls(s);
  const int x = kTrustedCard.left + 14;
  int y = kTrustedCard.top + 38;
  const int w = (kTrustedCard.right - kTrustedCard.left) - 28;
  if (s.peers.empty()) {
    s.emptyTrustedLabel = AddControl(s, L"STATIC", L"No iPhones paired yet.", 0,
                                     Box(x, y + 4, w, 18), 0, s.fonts.small, kRolePlain);
    return;
  }
  for (size_t i = 0; i < s.peers.size() && i < kMaxTrustedRows; ++i, y += 40)
    s.trustedRows.push_back(AddTrustedRow(s, s.peers[i], static_cast<int>(i), x, y, w));
}

}  // namespace Sorvane::setupui
