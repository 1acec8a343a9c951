#pragma once

// What the amount boxes let through of the typed characters: digits, backspace and one decimal
// point after at least one counted character. The counters are blind to the caret: they follow
// only typed characters, as if each were typed at the end of the text.
class TypedCounter {
 public:
  // Counts `ch` and answers whether the edit control may insert it.
  bool Accept(char ch);

 private:
  bool m_bDotTyped = false;
  int m_nTyped = 0;
  int m_nDotPos = -1;  // m_nTyped right after the point was counted; -1 while none is
};
