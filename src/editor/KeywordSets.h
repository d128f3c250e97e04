// The six built-in keyword lists, one per Lisp dialect, as constant data.
#pragma once

// Number of built-in sets; valid indices are 0 .. KeywordSetCount - 1.
inline constexpr int KeywordSetCount = 6;

// The space-separated, NUL-terminated list of set 0 (Common Lisp), 1 (Scheme), 2 (newLISP),
// 3 (ISLISP), 4 (PicoLisp) or 5 (Clojure); nullptr for any other index.
const char *KeywordList(int set);
