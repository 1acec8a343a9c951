// The board and the face brushes kept between paints must paint exactly what painting them anew
// paints, and must follow what they show: another font or picture.

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "board_paint_cache.h"
#include "rates_board.h"
#include "screen_capture.h"

#ifndef ORVANE_RES_DIR
#error ORVANE_RES_DIR names the folder of the pictures
#endif

namespace {

constexpr int SIZE = 400;

// A SIZE x SIZE bitmap compatible with the screen, as the window's paint is, selected into a DC.
class Canvas {
 public:
  Canvas() : m_screen(GetClientDC(nullptr)) {
    m_dc.Reset(CreateCompatibleDC(m_screen.Get()));
    m_bitmap.Reset(CreateCompatibleBitmap(m_screen.Get(), SIZE, SIZE));
    m_selected = Selection(m_dc.Get(), m_bitmap.Get());
  }
  HDC Get() const { return m_dc.Get(); }
  bool Ready() const { return m_selected.Succeeded(); }
  void Fill(DWORD rop) { PatBlt(m_dc.Get(), 0, 0, SIZE, SIZE, rop); }
  // The bitmap is read from a context of its own, so it leaves this one for the time.
  std::vector<std::uint8_t> Pixels() {
    m_selected = Selection();
    const Picture picture = ReadBitmap(m_bitmap.Get());
    m_selected = Selection(m_dc.Get(), m_bitmap.Get());
    return picture.bgrx;
  }

 private:
  WindowDC m_screen;
  MemoryDC m_dc;
  BitmapHandle m_bitmap;
  Selection m_selected;
};

class BoardPaintCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    background.Attach(Load("background.bmp"));
    flags.Attach(Load("flags.bmp"));
    ASSERT_FALSE(background.IsEmpty());
    ASSERT_FALSE(flags.IsEmpty());
    ASSERT_TRUE(bold);
    ASSERT_TRUE(anew.Ready() && kept.Ready());
  }

  static HBITMAP Load(const char* name) {
    const std::string path = std::string(ORVANE_RES_DIR) + "/" + name;
    return static_cast<HBITMAP>(LoadImageA(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));
  }
  // Another picture of the same size: every colour inverted. Null when GDI refuses.
  static HBITMAP Inverted(const char* name) {
    BitmapHandle picture(Load(name));
    BITMAP info{};
    GetObjectA(picture.Get(), sizeof info, &info);
    MemoryDC memory(CreateCompatibleDC(nullptr));
    Selection selected(memory.Get(), picture.Get());
    if (!selected.Succeeded() || !PatBlt(memory.Get(), 0, 0, info.bmWidth, info.bmHeight, DSTINVERT)) return nullptr;
    selected = Selection();
    return picture.Release();
  }

  // The board painted anew, over black, as every paint did before the board was kept.
  std::vector<std::uint8_t> PaintedAnew(const SkinBitmap& face, const SkinBitmap& strip, HFONT font) {
    anew.Fill(BLACKNESS);
    PaintBoard(anew.Get(), face, strip, font);
    return anew.Pixels();
  }

  SkinBitmap background, flags;
  HFONT gui = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  UniqueHandle<GdiObjectTraits<HFONT>> bold{CreateFontA(-14, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, ANSI_CHARSET,
                                                        OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                                        DEFAULT_PITCH, "Tahoma")};
  Canvas anew, kept;
};

TEST_F(BoardPaintCacheTest, KeptBoardPaintsWhatPaintingAnewPaintsThroughEveryChange) {
  SkinBitmap otherFace, otherFlags;
  otherFace.Attach(Inverted("background.bmp"));
  otherFlags.Attach(Inverted("flags.bmp"));
  ASSERT_FALSE(otherFace.IsEmpty() || otherFlags.IsEmpty());
  const SkinBitmap noFace;
  BoardPicture board;
  // One picture through a sequence of paints, each over a target scribbled white first: the kept
  // board must cover it all, and show each change at the paint that follows it.
  const struct {
    const char* what;
    const SkinBitmap& face;
    const SkinBitmap& strip;
    HFONT font;
    bool forget;
  } paints[] = {
      {"first paint", background, flags, gui, false},
      {"the same again", background, flags, gui, false},
      {"another font", background, flags, bold.Get(), false},
      {"back to the first font", background, flags, gui, false},
      {"another flag strip", background, otherFlags, gui, false},
      {"another face", otherFace, otherFlags, gui, false},
      {"after Forget", otherFace, otherFlags, gui, true},
      {"no face: flags and labels straight on", noFace, flags, gui, false},
      {"the face again", background, flags, gui, false},
  };
  for (const auto& paint : paints) {
    if (paint.forget) board.Forget();
    // Without a face nothing covers the target: it starts as the one painted anew does.
    kept.Fill(paint.face.IsEmpty() ? BLACKNESS : WHITENESS);
    board.Paint(kept.Get(), paint.face, paint.strip, paint.font);
    EXPECT_TRUE(kept.Pixels() == PaintedAnew(paint.face, paint.strip, paint.font)) << paint.what;
  }
}

TEST_F(BoardPaintCacheTest, FaceBrushesShowThePieceUnderThePlaceAndAreKeptPerPlace) {
  SkinBitmap otherFace;
  otherFace.Attach(Inverted("background.bmp"));
  ASSERT_FALSE(otherFace.IsEmpty());
  const RECT rateBox = BoardLayout(0).rateBox;
  const RECT otherBox = BoardLayout(17).rateBox;
  FaceBrushes brushes;
  // Each brush, laid over the target at its place, must show the face's piece there as a draw of
  // the face does; asked again for the same place, it is the same brush.
  const struct {
    const char* what;
    const SkinBitmap& face;
    RECT place;
    bool sameAsBefore;
  } asks[] = {
      {"first rate box", background, rateBox, false},
      {"first rate box again", background, rateBox, true},
      {"last rate box", background, otherBox, false},
      {"another face", otherFace, rateBox, false},
  };
  HBRUSH previous = nullptr;
  for (const auto& ask : asks) {
    HBRUSH brush = brushes.For(kept.Get(), ask.place, ask.face);
    ASSERT_TRUE(brush) << ask.what;
    EXPECT_EQ(brush == previous, ask.sameAsBefore) << ask.what;
    previous = brush;

    // The control paints its client area, which begins at the place: the pattern starts there.
    kept.Fill(BLACKNESS);
    SetBrushOrgEx(kept.Get(), ask.place.left, ask.place.top, nullptr);
    FillRect(kept.Get(), &ask.place, brush);
    anew.Fill(BLACKNESS);
    ask.face.Draw(anew.Get(), ask.place.left, ask.place.top, ask.place);
    EXPECT_TRUE(kept.Pixels() == anew.Pixels()) << ask.what;
  }
}

}  // namespace
