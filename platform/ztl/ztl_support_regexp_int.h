// Role: container support (docs/platform.md, "Containers").
// ztl_support_regexp_int.h — the matcher behind ZTL_REGEXP: a pattern
// compiled to a small program and run by Pike's virtual machine.
//
// Model: the text is read once, left to right; at each position the machine
//   holds at most one thread per program instruction, in priority order, each
//   with its own capture positions. A thread that reaches an instruction
//   already taken at this position is dropped: the one before it has the
//   higher priority, which is exactly what a backtracking matcher would have
//   tried first. The first thread to reach the end wins and every thread of
//   lower priority is cut, so the result is the ECMAScript one (leftmost
//   match, then alternatives and greedy or lazy quantifiers in their order).
// Loops follow ECMAScript's rules for each round: the captures inside the
//   body are undefined when a round begins, and a round beyond the minimum
//   that matches the empty text fails. The second rule makes a thread's
//   future depend on one more bit, whether a round has begun since the last
//   character was read; inside the closure a state is the instruction and
//   that bit, so the machine stays exact.
// Nothing recurses with the text: the closure over non-reading instructions
//   uses an explicit stack bounded by the program size, and the cost is
//   O(text x program) however the text is shaped.
// Dialect: literals (a lone "]" or "}" among them), ".", bracket classes with
//   ranges, negation and named classes ([:alpha:] ...), \d \w \s and their
//   negations, \f \n \r \t \v, \xHH, \uHHHH up to 0xFF, other escaped letters
//   and punctuation as themselves, ^ $ \b \B, capturing and (?:…) groups,
//   alternation, * + ? {n} {n,} {n,m} and their lazy forms, all of it also
//   under case folding. compile() refuses (false) anything else —
//   backreferences, lookarounds, \c, \0, octal escapes, collating elements,
//   empty classes, a quantifier on a quantifier, groups nested more than 200
//   deep, programs too large — and ZTL_REGEXP then treats the pattern as
//   invalid.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class ZTL_REGEXP_VM {
 public:
  // True when the machine runs this pattern; `groups` is the number of
  // capture groups it found.
  bool compile(const std::string& pattern, bool case_sensitive);
  unsigned groups() const { return m_groups; }

  // Searches `text` from `start` on (^ still means offset 0 of the text and
  // \b looks at the character before `start`). With `whole` the match must
  // begin at `start` and end at the end of the text. On success `caps` holds
  // 2 x (groups + 1) offsets, begin and end of each group, -1 when the group
  // took no part.
  bool exec(const std::string& text, size_t start, bool whole, std::vector<ptrdiff_t>& caps);

  // OP_RESET clears capture slots [x, y); OP_ROUND_BEGIN and OP_ROUND_END
  // bracket a loop round that must not match the empty text.
  enum OP : uint8_t { OP_CHAR, OP_ANY, OP_CLASS, OP_SPLIT, OP_JMP, OP_SAVE, OP_RESET, OP_ROUND_BEGIN, OP_ROUND_END,
                      OP_BOL, OP_EOL, OP_WORD_BOUNDARY, OP_NOT_WORD_BOUNDARY, OP_MATCH };
  struct INST {
    OP m_op;
    unsigned char m_char;  // OP_CHAR
    int m_x;               // class index, jump target, preferred branch, capture slot
    int m_y;               // the other branch of OP_SPLIT, end of OP_RESET's slots
  };

 private:
  // Threads at one position: a sparse set of states (2 x instruction + round
  // flag) in priority order, with the captures of each reading instruction.
  struct THREADS {
    std::vector<int> m_dense, m_sparse;
    std::vector<ptrdiff_t> m_caps;
    int m_size = 0;
    void reset(size_t program_size, size_t ncaps);
    bool contains(int pc) const {
      const int i = m_sparse[size_t(pc)];
      return i < m_size && m_dense[size_t(i)] == pc;
    }
  };
  struct FRAME {
    int m_pc;    // instruction to enter, or -1 for a capture to restore
    int m_slot;  // the slot to restore, or the round flag of the instruction
    ptrdiff_t m_old;
  };

  void add_thread(THREADS& list, int pc, ptrdiff_t* caps, const std::string& text, size_t pos);
  bool reads(const INST& in, unsigned char c) const;

  std::vector<INST> m_code;
  std::vector<std::bitset<256>> m_classes;
  unsigned m_groups = 0;
  // Scratch kept between runs.
  THREADS m_current, m_next;
  std::vector<FRAME> m_stack;
  std::vector<ptrdiff_t> m_start_caps;
};
