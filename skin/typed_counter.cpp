#include "typed_counter.h"

namespace {
constexpr char BACKSPACE = 8;
}

bool TypedCounter::Accept(char ch) {
  if (ch == '.' && !m_bDotTyped && m_nTyped > 0) {
    ++m_nTyped;
    m_bDotTyped = true;
    m_nDotPos = m_nTyped;
    return true;
  }
  if (ch >= '0' && ch <= '9') {
    ++m_nTyped;
    return true;
  }
  if (ch == BACKSPACE) {
    if (m_nTyped == m_nDotPos) {  // the counted point is the last counted character: it goes
      m_bDotTyped = false;
      m_nDotPos = -1;
    }
    if (--m_nTyped < 0) m_nTyped = 0;
    return true;
  }
  return false;
}
