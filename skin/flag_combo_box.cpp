#include "flag_combo_box.h"

#include "offscreen_dc.h"
#include "rates/currency.h"
#include "skin_palette.h"

namespace {

constexpr COLORREF FILL_COLOR = RGB(14, 123, 200);
constexpr COLORREF TEXT_COLOR = RGB(255, 255, 255);
constexpr int ITEM_HEIGHT = 20;

void FillSolid(HDC dc, const RECT& rect, COLORREF color) {
  // ExtTextOut's opaque fill, which leaves the colour as the context's background colour.
  SetBkColor(dc, color);
  ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
}

}  // namespace

int ComboCurrencyList::Count() const { return static_cast<int>(m_combo.Send(CB_GETCOUNT)); }
int ComboCurrencyList::ItemData(int position) const {
  return static_cast<int>(m_combo.Send(CB_GETITEMDATA, static_cast<WPARAM>(position)));
}
int ComboCurrencyList::Selection() const { return static_cast<int>(m_combo.Send(CB_GETCURSEL)); }
void ComboCurrencyList::Select(int position) { m_combo.Send(CB_SETCURSEL, static_cast<WPARAM>(position)); }
void ComboCurrencyList::Delete(int position) { m_combo.Send(CB_DELETESTRING, static_cast<WPARAM>(position)); }
void ComboCurrencyList::Insert(int position, int currency) {
  // Without CBS_HASSTRINGS the "string" is stored as the item data. -1 appends.
  const WPARAM where = position >= Count() ? static_cast<WPARAM>(-1) : static_cast<WPARAM>(position);
  m_combo.Send(CB_INSERTSTRING, where, static_cast<LPARAM>(currency));
}

void FlagComboBox::OnBind() {
  Send(CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), ITEM_HEIGHT);
  Send(CB_SETDROPPEDWIDTH, 100);
  // The list holds no text, so a screen reader hears the label that the face shows.
  Accessible().SetValue([this] { return SelectedLabel(); });
}

std::string FlagComboBox::SelectedLabel() const {
  const auto selection = Send(CB_GETCURSEL);
  if (selection < 0) return "";
  const int index = static_cast<int>(Send(CB_GETITEMDATA, static_cast<WPARAM>(selection)));
  return IsCurrency(index) && m_pLabels ? m_pLabels[index] : "";
}

bool FlagComboBox::AnnounceSelection() {
  std::string label = SelectedLabel();
  if (label == m_announcedLabel) return false;
  m_announcedLabel = std::move(label);
  Accessible().AnnounceValueChange();
  return true;
}

void FlagComboBox::OnMeasureItem(MEASUREITEMSTRUCT& item) {
  item.itemHeight = ITEM_HEIGHT;
  item.itemWidth = 200;
}

void FlagComboBox::OnDrawItem(const DRAWITEMSTRUCT& item) {
  HDC dc = item.hDC;
  RECT rect = item.rcItem;
  const bool isItem = item.itemID != static_cast<UINT>(-1);
  const int index = static_cast<int>(Send(CB_GETITEMDATA, item.itemID));
  const bool known = isItem && IsCurrency(index);  // anything else would read past the strip and labels
  const char* label = known && m_pLabels ? m_pLabels[index] : "";

  if (item.itemState & ODS_COMBOBOXEDIT) {
    RECT client;
    GetClientRect(m_hWnd, &client);
    RegionHandle clip(CreateRectRgnIndirect(&client));
    SelectClipRgn(dc, clip.Get());
    rect.right = client.right - 1;  // over the place of the drop-down button too
  }
  FillSolid(dc, rect, FILL_COLOR);
  if (known && m_pFlagStrip) DrawFlag(*m_pFlagStrip, dc, rect.left, rect.top, index);

  RECT text = rect;
  text.left += 37;
  text.right += 32;
  SetTextColor(dc, TEXT_COLOR);
  DrawTextA(dc, label, -1, &text, DT_SINGLELINE | DT_VCENTER);

  if (item.itemAction & ODA_FOCUS) DrawLightFrame(dc, item.rcItem);
}

void FlagComboBox::OnPaint() {
  PaintDC paint = BeginPaintDC(m_hWnd);
  RECT client;
  GetClientRect(m_hWnd, &client);
  RegionHandle clip(CreateRectRgnIndirect(&client));
  SelectClipRgn(paint.Get(), clip.Get());
  {
    OffscreenDC offscreen(paint.Get());
    FillSolid(offscreen.Get(), client, FILL_COLOR);
    RECT inner = client;
    InflateRect(&inner, -3, -3);
    Selection font(offscreen.Get(), reinterpret_cast<HGDIOBJ>(Send(WM_GETFONT)));

    DRAWITEMSTRUCT item{};
    item.hDC = offscreen.Get();
    item.itemID = static_cast<UINT>(Send(CB_GETCURSEL));
    item.rcItem = inner;
    OnDrawItem(item);

    if (m_bHover) DrawLightFrame(offscreen.Get(), client);
    if (m_bShowFocus && GetFocus() == m_hWnd) {
      // Inside the hover frame, so that the two can be told apart.
      RECT focus = client;
      InflateRect(&focus, -1, -1);
      DrawLightFrame(offscreen.Get(), focus);
    }
  }
}

std::optional<LRESULT> FlagComboBox::OnMessage(UINT message, WPARAM, LPARAM) {
  switch (message) {
    case WM_ERASEBKGND:
      return TRUE;
    case WM_PAINT:
      OnPaint();
      return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      if (m_bShowFocus) InvalidateRect(m_hWnd, nullptr, FALSE);
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

void FlagComboBox::OnHoverChanged() {
  RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}
