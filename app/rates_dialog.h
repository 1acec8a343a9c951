#pragma once

#include <windows.h>

#include <array>

#include "converter.h"
#include "dialog.h"
#include "flag_combo_box.h"
#include "handle.h"
#include "number_edit.h"
#include "settings_store.h"
#include "shared_rates.h"
#include "skin_bitmap.h"
#include "skin_button.h"
#include "snapshot.h"

// A refresh has downloaded a newer library: the window ends with result 3.
inline constexpr UINT WM_UPDATE_READY = 0x8001;
inline constexpr UINT WM_TRAYNOTIFY = 0x0401;
inline constexpr UINT_PTR UPDATE_TIMER_ID = 1;
inline constexpr UINT UPDATE_PERIOD_MS = 600000;
inline constexpr INT_PTR UPDATE_READY_RESULT = 3;

// The program's only window: the rates board (flags, labels, eighteen rate boxes), the converter,
// the "Last Updated" line and the two buttons, on a borderless round-cornered 400 x 400 face.
class RatesDialog : public Dialog {
 public:
  explicit RatesDialog(SettingsStore& settings);

  // Starts one refresh of the rates in the background (at start, on the timer and on
  // "&Update Now"). The refresh worker does not exist in this library yet, so for now a refresh
  // changes nothing; the callers are already in place.
  void StartRefresh();

 protected:
  std::optional<LRESULT> OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  bool PreTranslateMessage(MSG& message) override;

 private:
  BOOL OnInitDialog();
  void CreateRateBoxes();
  void LoadSnapshot();
  void CreateTooltip();
  void OnPaint();
  void OnCommand(int id, int code);
  void OnLButtonDown(POINT point);
  void OnMouseMove(POINT point);
  void OnLButtonUp();
  HBRUSH OnCtlColor(HDC dc, HWND control);
  void OnDestroy();
  // Ends the dialog once every worker thread has stopped; the library is unloaded right after.
  void StopWorkersAndEnd(INT_PTR result);

  SettingsStore& m_settings;
  HICON m_hIcon;
  SkinBitmap m_flagStrip;
  SkinBitmap m_background;
  SkinButton m_exitButton;
  SkinButton m_updateButton;
  std::array<HWND, RATE_COUNT> m_rateBoxes{};
  bool m_bVisible = true;
  bool m_bDragging = false;
  BrushHandle m_controlBrush;
  int m_dragOffsetX = 0;
  int m_dragOffsetY = 0;
  HICON m_hTrayIcon = nullptr;
  SharedRates m_rates;
  SystemTime m_lastUpdate{};
  FlagComboBox m_fromCombo;
  FlagComboBox m_toCombo;
  NumberEdit m_fromEdit;
  NumberEdit m_toEdit;
  Converter m_converter{m_fromCombo.Items(), m_fromEdit.Amount(), m_toCombo.Items(), m_toEdit.Amount(), m_rates};
  HWND m_tooltip = nullptr;
};
