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
// Nothing recurses with the text: the closure over non-reading instructions
//   uses an explicit stack bounded by the program size, and the cost is
//   O(text x program) however the text is shaped.
// Dialect: literals, ".", bracket classes with ranges and negation, \d \w \s
//   and their negations, \f \n \r \t \v, escaped punctuation, ^ $ \b \B,
//   capturing and (?:…) groups, alternation, * + ? {n} {n,} {n,m} and their
//   lazy forms. compile() refuses (false) anything else — backreferences,
//   lookarounds, other escapes, classes under case folding, a loop whose body
//   can match the empty text or holds a capture (ECMAScript resets those per
//   round) — and ZTL_REGEXP then keeps the standard library's engine.
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

  enum OP : uint8_t { OP_CHAR, OP_ANY, OP_CLASS, OP_SPLIT, OP_JMP, OP_SAVE, OP_BOL, OP_EOL, OP_WORD_BOUNDARY,
                      OP_NOT_WORD_BOUNDARY, OP_MATCH };
  struct INST {
    OP m_op;
    unsigned char m_char;  // OP_CHAR
    int m_x;               // class index, jump target, preferred branch, capture slot
    int m_y;               // the other branch of OP_SPLIT
  };

 private:
  // Threads at one position: a sparse set of instructions with the
  // captures of each, in priority order.
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
    int m_slot;
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
