// ztl_support_regexp.cpp — the pattern compiler and Pike's virtual machine
// behind ZTL_REGEXP (model in ztl_support_regexp_int.h).
//
// The pattern is parsed into a small tree (recursive descent: the depth is
// the pattern's nesting, never the text's length), checked against what the
// machine runs, and compiled by Thompson's construction into instructions.
#include "ztl/ztl_support_regexp_int.h"

#include <algorithm>
#include <climits>

namespace {

// Programs beyond this size (counted repetitions expand), whose capture
// table (one row per instruction) would grow beyond MAX_CAPTURE_CELLS, or
// whose groups nest deeper than MAX_NESTING (the parser recurses on the
// nesting) are refused.
constexpr size_t MAX_PROGRAM = 20000;
constexpr size_t MAX_CAPTURE_CELLS = size_t(1) << 20;
constexpr int MAX_NESTING = 200;
constexpr int UNBOUNDED = INT_MAX;

typedef std::bitset<256> CLASS_BITS;

enum KIND { K_EMPTY, K_CHAR, K_ANY, K_CLASS, K_GROUP, K_CONCAT, K_ALT, K_REPEAT, K_BOL, K_EOL, K_WORDB, K_NWORDB };

struct NODE {
  explicit NODE(KIND kind) : m_kind(kind) {}
  KIND m_kind;
  int m_value = 0;  // character, class index, capture number (-1 none)
  int m_min = 0, m_max = 0;
  bool m_greedy = true;
  std::vector<int> m_kids;
};

bool is_word(unsigned char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }

CLASS_BITS class_of(char letter) {
  CLASS_BITS b;
  for (int c = 0; c < 256; ++c) {
    const unsigned char u = static_cast<unsigned char>(c);
    switch (letter) {
      case 'd': case 'D': b[size_t(c)] = u >= '0' && u <= '9'; break;
      case 'w': case 'W': b[size_t(c)] = is_word(u); break;
      default: b[size_t(c)] = u == ' ' || (u >= '\t' && u <= '\r'); break;  // \t \n \v \f \r
    }
  }
  return (letter >= 'A' && letter <= 'Z') ? ~b : b;
}

// The control character of \f \n \r \t \v, or -1.
int control_escape(char c) {
  switch (c) {
    case 'f': return '\f';
    case 'n': return '\n';
    case 'r': return '\r';
    case 't': return '\t';
    case 'v': return '\v';
    default: return -1;
  }
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Adds the other case of every letter in `b`: a class under case folding
// matches a character when it holds either case of it.
CLASS_BITS fold_case(const CLASS_BITS& b) {
  CLASS_BITS out = b;
  for (int c = 'a'; c <= 'z'; ++c) {
    if (b[size_t(c)] || b[size_t(c - 32)]) out[size_t(c)] = out[size_t(c - 32)] = true;
  }
  return out;
}

// The members of a named class ("[:alpha:]" and friends), in the C locale;
// false for a name the dialect does not know.
bool named_class(const std::string& name, CLASS_BITS& b) {
  for (int c = 0; c < 128; ++c) {
    const unsigned char u = static_cast<unsigned char>(c);
    const bool upper = u >= 'A' && u <= 'Z', lower = u >= 'a' && u <= 'z', digit = u >= '0' && u <= '9';
    const bool space = u == ' ' || (u >= '\t' && u <= '\r'), print = u >= 0x20 && u < 0x7f;
    bool in;
    if (name == "alpha") in = upper || lower;
    else if (name == "digit" || name == "d") in = digit;
    else if (name == "alnum") in = upper || lower || digit;
    else if (name == "w") in = upper || lower || digit || u == '_';
    else if (name == "upper") in = upper;
    else if (name == "lower") in = lower;
    else if (name == "space" || name == "s") in = space;
    else if (name == "blank") in = u == ' ' || u == '\t';
    else if (name == "cntrl") in = !print;
    else if (name == "print") in = print;
    else if (name == "graph") in = print && u != ' ';
    else if (name == "punct") in = print && u != ' ' && !upper && !lower && !digit;
    else if (name == "xdigit") in = hex_value(char(u)) >= 0;
    else return false;
    if (in) b[size_t(c)] = true;
  }
  return true;
}

class PARSER {
 public:
  PARSER(const std::string& p, bool fold, std::vector<NODE>& nodes, std::vector<CLASS_BITS>& classes)
      : m_p(p), m_fold(fold), m_nodes(nodes), m_classes(classes) {}

  // The root node, or -1 when the pattern is outside the machine's dialect.
  int parse() {
    const int root = alternation();
    return (m_ok && m_pos == m_p.size()) ? root : -1;
  }
  unsigned groups() const { return m_groups; }

 private:
  int add(NODE n) {
    m_nodes.push_back(std::move(n));
    return int(m_nodes.size()) - 1;
  }
  int fail() {
    m_ok = false;
    return -1;
  }
  bool at_end() const { return m_pos >= m_p.size(); }

  int alternation() {
    NODE alt{K_ALT};
    alt.m_kids.push_back(sequence());
    while (m_ok && !at_end() && m_p[m_pos] == '|') {
      ++m_pos;
      alt.m_kids.push_back(sequence());
    }
    if (!m_ok) return -1;
    return alt.m_kids.size() == 1 ? alt.m_kids[0] : add(std::move(alt));
  }

  int sequence() {
    NODE seq{K_CONCAT};
    while (m_ok && !at_end() && m_p[m_pos] != '|' && m_p[m_pos] != ')') {
      const int atom_node = atom();
      if (!m_ok) return -1;
      seq.m_kids.push_back(quantified(atom_node));
    }
    if (!m_ok) return -1;
    if (seq.m_kids.empty()) return add(NODE{K_EMPTY});
    return seq.m_kids.size() == 1 ? seq.m_kids[0] : add(std::move(seq));
  }

  int literal(unsigned char c) {
    if (m_fold && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) {
      CLASS_BITS b;
      b[c | 0x20] = true;
      b[c & ~0x20] = true;
      m_classes.push_back(b);
      NODE n{K_CLASS};
      n.m_value = int(m_classes.size()) - 1;
      return add(std::move(n));
    }
    NODE n{K_CHAR};
    n.m_value = c;
    return add(std::move(n));
  }

  int class_node(const CLASS_BITS& b) {
    m_classes.push_back(b);
    NODE n{K_CLASS};
    n.m_value = int(m_classes.size()) - 1;
    return add(std::move(n));
  }

  int atom() {
    const char c = m_p[m_pos++];
    switch (c) {
      case '(': {
        if (++m_depth > MAX_NESTING) return fail();
        int capture = -1;
        if (m_pos < m_p.size() && m_p[m_pos] == '?') {
          if (m_pos + 1 >= m_p.size() || m_p[m_pos + 1] != ':') return fail();  // lookarounds
          m_pos += 2;
        } else {
          capture = int(++m_groups);
        }
        const int inner = alternation();
        if (!m_ok || at_end() || m_p[m_pos] != ')') return fail();
        ++m_pos;
        --m_depth;
        NODE g{K_GROUP};
        g.m_value = capture;
        g.m_kids.push_back(inner);
        return add(std::move(g));
      }
      case '[': return bracket();
      case '.': return add(NODE{K_ANY});
      case '^': return add(NODE{K_BOL});
      case '$': return add(NODE{K_EOL});
      case '\\': return escape();
      case '*': case '+': case '?': case '{': case ')': return fail();
      default: return literal(static_cast<unsigned char>(c));
    }
  }

  int escape() {
    if (at_end()) return fail();
    const char c = m_p[m_pos++];
    switch (c) {
      case 'd': case 'D': case 'w': case 'W': case 's': case 'S': return class_node(class_of(c));
      case 'b': return add(NODE{K_WORDB});
      case 'B': return add(NODE{K_NWORDB});
      default: break;
    }
    const int code = character_escape(c);
    return code >= 0 ? literal(static_cast<unsigned char>(code)) : fail();
  }

  // The character an escape outside the class escapes stands for (after the
  // backslash and `c`): \f \n \r \t \v, \xHH, \uHHHH up to 0xFF, and any
  // other letter or punctuation as itself. -1 for backreferences, octal and
  // NUL escapes, \c, and \u beyond one byte, which the machine refuses.
  int character_escape(char c) {
    if (control_escape(c) >= 0) return control_escape(c);
    if (c == 'x' || c == 'u') {
      const size_t digits = c == 'x' ? 2 : 4;
      if (m_p.size() - m_pos < digits) return -1;
      int v = 0;
      for (size_t k = 0; k < digits; ++k) {
        const int h = hex_value(m_p[m_pos + k]);
        if (h < 0) return -1;
        v = v * 16 + h;
      }
      m_pos += digits;
      return v <= 0xFF ? v : -1;
    }
    if ((c >= '0' && c <= '9') || c == 'c' || c == 'b' || c == 'B') return -1;
    return static_cast<unsigned char>(c);
  }

  // One class member: a character (>= 0), or -1 after merging a class
  // escape into `b`, or -2 when outside the dialect.
  int class_member(CLASS_BITS& b) {
    const char c = m_p[m_pos++];
    if (c == '[' && m_pos < m_p.size() && m_p[m_pos] == ':') {
      const size_t close = m_p.find(":]", m_pos + 1);
      if (close == std::string::npos || !named_class(m_p.substr(m_pos + 1, close - m_pos - 1), b)) return -2;
      m_pos = close + 2;
      return -1;
    }
    if (c == '[' && m_pos < m_p.size() && (m_p[m_pos] == '=' || m_p[m_pos] == '.')) return -2;  // collating
    if (c != '\\') return static_cast<unsigned char>(c);
    if (at_end()) return -2;
    const char e = m_p[m_pos++];
    if (e == 'd' || e == 'D' || e == 'w' || e == 'W' || e == 's' || e == 'S') {
      b |= class_of(e);
      return -1;
    }
    const int code = character_escape(e);  // \b is a backspace here: refused as well
    return code >= 0 ? code : -2;
  }

  int bracket() {
    bool negate = false;
    if (m_pos < m_p.size() && m_p[m_pos] == '^') {
      negate = true;
      ++m_pos;
    }
    if (m_pos < m_p.size() && m_p[m_pos] == ']') return fail();  // empty or leading ']'
    CLASS_BITS b;
    while (true) {
      if (at_end()) return fail();
      if (m_p[m_pos] == ']') {
        ++m_pos;
        break;
      }
      const int lo = class_member(b);
      if (lo == -2) return fail();
      const bool range = lo >= 0 && m_pos + 1 < m_p.size() && m_p[m_pos] == '-' && m_p[m_pos + 1] != ']';
      if (!range) {
        if (lo >= 0) b[size_t(lo)] = true;
        continue;
      }
      ++m_pos;  // the '-'
      CLASS_BITS ignored;
      const int hi = class_member(ignored);
      if (hi < 0 || hi < lo) return fail();
      for (int x = lo; x <= hi; ++x) b[size_t(x)] = true;
    }
    if (m_fold) b = fold_case(b);
    return class_node(negate ? ~b : b);
  }

  // Reads a decimal number; -1 when there is none.
  int number() {
    long v = -1;
    while (!at_end() && m_p[m_pos] >= '0' && m_p[m_pos] <= '9') {
      v = (v < 0 ? 0 : v) * 10 + (m_p[m_pos++] - '0');
      if (v > 100000) return -2;
    }
    return int(v);
  }

  int quantified(int node) {
    if (at_end()) return node;
    int lo, hi;
    const char c = m_p[m_pos];
    if (c == '*') lo = 0, hi = UNBOUNDED;
    else if (c == '+') lo = 1, hi = UNBOUNDED;
    else if (c == '?') lo = 0, hi = 1;
    else if (c == '{') {
      const size_t save = m_pos++;
      lo = number();
      hi = lo;
      if (!at_end() && m_p[m_pos] == ',') {
        ++m_pos;
        hi = number();
        if (hi == -1) hi = UNBOUNDED;
      }
      if (lo < 0 || hi < 0 || hi < lo || at_end() || m_p[m_pos] != '}') {
        m_pos = save;
        return fail();
      }
    } else {
      return node;
    }
    ++m_pos;
    const KIND k = m_nodes[size_t(node)].m_kind;
    if (k == K_BOL || k == K_EOL || k == K_WORDB || k == K_NWORDB) return fail();
    NODE r{K_REPEAT};
    r.m_min = lo;
    r.m_max = hi;
    if (!at_end() && m_p[m_pos] == '?') {
      r.m_greedy = false;
      ++m_pos;
    }
    r.m_kids.push_back(node);
    if (!at_end() && (m_p[m_pos] == '*' || m_p[m_pos] == '+' || m_p[m_pos] == '?' || m_p[m_pos] == '{'))
      return fail();  // a quantifier on a quantifier
    return add(std::move(r));
  }

  const std::string& m_p;
  bool m_fold;
  std::vector<NODE>& m_nodes;
  std::vector<CLASS_BITS>& m_classes;
  size_t m_pos = 0;
  unsigned m_groups = 0;
  int m_depth = 0;
  bool m_ok = true;
};

// Whether the node can match the empty text.
bool nullable(const std::vector<NODE>& nodes, int i) {
  const NODE& n = nodes[size_t(i)];
  switch (n.m_kind) {
    case K_CHAR: case K_ANY: case K_CLASS: return false;
    case K_GROUP: return nullable(nodes, n.m_kids[0]);
    case K_CONCAT:
      for (int k : n.m_kids)
        if (!nullable(nodes, k)) return false;
      return true;
    case K_ALT:
      for (int k : n.m_kids)
        if (nullable(nodes, k)) return true;
      return false;
    case K_REPEAT: return n.m_min == 0 || nullable(nodes, n.m_kids[0]);
    default: return true;  // empty and assertions
  }
}

// The capture numbers inside the node: they are consecutive, so the first
// and the last bound them. `first` stays 0 when there is none.
void capture_range(const std::vector<NODE>& nodes, int i, int& first, int& last) {
  const NODE& n = nodes[size_t(i)];
  if (n.m_kind == K_GROUP && n.m_value > 0) {
    if (first == 0 || n.m_value < first) first = n.m_value;
    last = std::max(last, n.m_value);
  }
  for (int k : n.m_kids) capture_range(nodes, k, first, last);
}

class COMPILER {
 public:
  COMPILER(const std::vector<NODE>& nodes, std::vector<ZTL_REGEXP_VM::INST>& code) : m_nodes(nodes), m_code(code) {}

  bool emit(int i) {
    if (m_code.size() > MAX_PROGRAM) return false;
    const NODE& n = m_nodes[size_t(i)];
    switch (n.m_kind) {
      case K_EMPTY: return true;
      case K_CHAR: put(ZTL_REGEXP_VM::OP_CHAR, 0, 0, static_cast<unsigned char>(n.m_value)); return true;
      case K_ANY: put(ZTL_REGEXP_VM::OP_ANY); return true;
      case K_CLASS: put(ZTL_REGEXP_VM::OP_CLASS, n.m_value); return true;
      case K_BOL: put(ZTL_REGEXP_VM::OP_BOL); return true;
      case K_EOL: put(ZTL_REGEXP_VM::OP_EOL); return true;
      case K_WORDB: put(ZTL_REGEXP_VM::OP_WORD_BOUNDARY); return true;
      case K_NWORDB: put(ZTL_REGEXP_VM::OP_NOT_WORD_BOUNDARY); return true;
      case K_GROUP:
        if (n.m_value >= 0) put(ZTL_REGEXP_VM::OP_SAVE, 2 * n.m_value);
        if (!emit(n.m_kids[0])) return false;
        if (n.m_value >= 0) put(ZTL_REGEXP_VM::OP_SAVE, 2 * n.m_value + 1);
        return true;
      case K_CONCAT:
        for (int k : n.m_kids)
          if (!emit(k)) return false;
        return true;
      case K_ALT: return alternation(n);
      case K_REPEAT: return repeat(n);
    }
    return false;
  }

 private:
  int put(ZTL_REGEXP_VM::OP op, int x = 0, int y = 0, unsigned char c = 0) {
    m_code.push_back({op, c, x, y});
    return int(m_code.size()) - 1;
  }

  // SPLIT L1, next; L1: a; JMP end; next: SPLIT L2, next2; ... last: z; end:
  bool alternation(const NODE& n) {
    std::vector<int> jumps;
    for (size_t k = 0; k < n.m_kids.size(); ++k) {
      const bool last = k + 1 == n.m_kids.size();
      const int split = last ? -1 : put(ZTL_REGEXP_VM::OP_SPLIT);
      if (split >= 0) m_code[size_t(split)].m_x = split + 1;
      if (!emit(n.m_kids[k])) return false;
      if (!last) {
        jumps.push_back(put(ZTL_REGEXP_VM::OP_JMP));
        m_code[size_t(split)].m_y = int(m_code.size());
      }
    }
    for (int j : jumps) m_code[size_t(j)].m_x = int(m_code.size());
    return true;
  }

  // A split whose preferred branch is the body (greedy) or the way out.
  void set_split(int split, int body, int out, bool greedy) {
    m_code[size_t(split)].m_x = greedy ? body : out;
    m_code[size_t(split)].m_y = greedy ? out : body;
  }

  // One round of a loop, as ECMAScript runs it: the captures inside the body
  // are undefined at its start, and a round beyond the minimum that matches
  // the empty text fails (only a body that can match it needs the check).
  bool round(int body, bool optional) {
    const bool check = optional && nullable(m_nodes, body);
    if (check) put(ZTL_REGEXP_VM::OP_ROUND_BEGIN);
    int first = 0, last = 0;
    capture_range(m_nodes, body, first, last);
    if (first > 0) put(ZTL_REGEXP_VM::OP_RESET, 2 * first, 2 * last + 2);
    if (!emit(body)) return false;
    if (check) put(ZTL_REGEXP_VM::OP_ROUND_END);
    return true;
  }

  bool repeat(const NODE& n) {
    const int body = n.m_kids[0];
    for (int k = 0; k < n.m_min; ++k)
      if (!round(body, false)) return false;
    if (n.m_max == UNBOUNDED) {
      const int split = put(ZTL_REGEXP_VM::OP_SPLIT);
      if (!round(body, true)) return false;
      put(ZTL_REGEXP_VM::OP_JMP, split);
      set_split(split, split + 1, int(m_code.size()), n.m_greedy);
      return true;
    }
    std::vector<int> splits;
    for (int k = n.m_min; k < n.m_max; ++k) {
      splits.push_back(put(ZTL_REGEXP_VM::OP_SPLIT));
      if (!round(body, true)) return false;
    }
    for (int s : splits) set_split(s, s + 1, int(m_code.size()), n.m_greedy);
    return true;
  }

  const std::vector<NODE>& m_nodes;
  std::vector<ZTL_REGEXP_VM::INST>& m_code;
};

}  // namespace

bool ZTL_REGEXP_VM::compile(const std::string& pattern, bool case_sensitive) {
  m_code.clear();
  m_classes.clear();
  std::vector<NODE> nodes;
  PARSER parser(pattern, !case_sensitive, nodes, m_classes);
  const int root = parser.parse();
  if (root < 0) return false;
  m_groups = parser.groups();
  m_code.push_back({OP_SAVE, 0, 0, 0});
  COMPILER compiler(nodes, m_code);
  if (!compiler.emit(root) || m_code.size() > MAX_PROGRAM) {
    m_code.clear();
    return false;
  }
  m_code.push_back({OP_SAVE, 0, 1, 0});
  m_code.push_back({OP_MATCH, 0, 0, 0});
  if (m_code.size() * 2 * (size_t(m_groups) + 1) > MAX_CAPTURE_CELLS) {
    m_code.clear();
    return false;
  }
  return true;
}

void ZTL_REGEXP_VM::THREADS::reset(size_t program_size, size_t ncaps) {
  if (m_sparse.size() != 2 * program_size) {
    m_dense.assign(2 * program_size, 0);
    m_sparse.assign(2 * program_size, 0);
  }
  if (m_caps.size() != program_size * ncaps) m_caps.assign(program_size * ncaps, -1);
  m_size = 0;
}

bool ZTL_REGEXP_VM::reads(const INST& in, unsigned char c) const {
  switch (in.m_op) {
    case OP_CHAR: return c == in.m_char;
    case OP_ANY: return c != '\n' && c != '\r';
    case OP_CLASS: return m_classes[size_t(in.m_x)][c];
    default: return false;
  }
}

// Follows jumps, splits, captures and assertions from `pc` at `pos`, in
// priority order, and adds every reading instruction (and the match) it
// reaches to `list` with the captures on the way. `caps` is changed and
// restored, so the caller's captures stay as they were.
// A state is an instruction and whether a loop round has begun since the
// last character was read: a round's end kills the thread in that case (the
// round matched the empty text), so both states of a non-reading
// instruction are kept apart. At a reading instruction or the match the
// flag no longer matters: reading clears it.
void ZTL_REGEXP_VM::add_thread(THREADS& list, int pc0, ptrdiff_t* caps, const std::string& text, size_t pos) {
  const size_t ncaps = 2 * (size_t(m_groups) + 1);
  const bool before_word = pos > 0 && is_word(static_cast<unsigned char>(text[pos - 1]));
  const bool after_word = pos < text.size() && is_word(static_cast<unsigned char>(text[pos]));
  m_stack.clear();
  m_stack.push_back({pc0, 0, 0});
  while (!m_stack.empty()) {
    const FRAME f = m_stack.back();
    m_stack.pop_back();
    if (f.m_pc < 0) {
      caps[f.m_slot] = f.m_old;
      continue;
    }
    const INST& in = m_code[size_t(f.m_pc)];
    const bool consumes = in.m_op == OP_CHAR || in.m_op == OP_ANY || in.m_op == OP_CLASS || in.m_op == OP_MATCH;
    const int key = 2 * f.m_pc + (consumes ? 0 : f.m_slot);
    if (list.contains(key)) continue;
    const int index = list.m_size++;
    list.m_dense[size_t(index)] = key;
    list.m_sparse[size_t(key)] = index;
    const int fresh = f.m_slot;  // for a pc frame, the round flag
    switch (in.m_op) {
      case OP_JMP: m_stack.push_back({in.m_x, fresh, 0}); break;
      case OP_SPLIT:
        m_stack.push_back({in.m_y, fresh, 0});
        m_stack.push_back({in.m_x, fresh, 0});
        break;
      case OP_SAVE:
        m_stack.push_back({-1, in.m_x, caps[in.m_x]});
        caps[in.m_x] = ptrdiff_t(pos);
        m_stack.push_back({f.m_pc + 1, fresh, 0});
        break;
      case OP_RESET:
        for (int slot = in.m_x; slot < in.m_y; ++slot) {
          m_stack.push_back({-1, slot, caps[slot]});
          caps[slot] = -1;
        }
        m_stack.push_back({f.m_pc + 1, fresh, 0});
        break;
      case OP_ROUND_BEGIN: m_stack.push_back({f.m_pc + 1, 1, 0}); break;
      case OP_ROUND_END:
        if (!fresh) m_stack.push_back({f.m_pc + 1, 0, 0});
        break;
      case OP_BOL:
        if (pos == 0) m_stack.push_back({f.m_pc + 1, fresh, 0});
        break;
      case OP_EOL:
        if (pos == text.size()) m_stack.push_back({f.m_pc + 1, fresh, 0});
        break;
      case OP_WORD_BOUNDARY:
        if (before_word != after_word) m_stack.push_back({f.m_pc + 1, fresh, 0});
        break;
      case OP_NOT_WORD_BOUNDARY:
        if (before_word == after_word) m_stack.push_back({f.m_pc + 1, fresh, 0});
        break;
      default: std::copy(caps, caps + ncaps, list.m_caps.begin() + ptrdiff_t(size_t(f.m_pc) * ncaps)); break;
    }
  }
}

bool ZTL_REGEXP_VM::exec(const std::string& text, size_t start, bool whole, std::vector<ptrdiff_t>& caps) {
  if (m_code.empty() || start > text.size()) return false;
  const size_t ncaps = 2 * (size_t(m_groups) + 1);
  m_current.reset(m_code.size(), ncaps);
  m_next.reset(m_code.size(), ncaps);
  m_start_caps.assign(ncaps, -1);
  bool matched = false;
  for (size_t pos = start;; ++pos) {
    // A new thread starts here, below every thread that started earlier;
    // none once a match is known (a later start is never leftmost).
    if (!matched && (!whole || pos == start)) add_thread(m_current, 0, m_start_caps.data(), text, pos);
    if (m_current.m_size == 0) break;
    m_next.m_size = 0;
    for (int i = 0; i < m_current.m_size; ++i) {
      const int key = m_current.m_dense[size_t(i)];
      if (key & 1) continue;  // inside a closure only
      const int pc = key / 2;
      const INST& in = m_code[size_t(pc)];
      ptrdiff_t* thread_caps = &m_current.m_caps[size_t(pc) * ncaps];
      if (in.m_op == OP_MATCH) {
        if (whole && pos != text.size()) continue;
        matched = true;
        caps.assign(thread_caps, thread_caps + ncaps);
        break;  // every later thread has a lower priority
      }
      if (pos < text.size() && reads(in, static_cast<unsigned char>(text[pos])))
        add_thread(m_next, pc + 1, thread_caps, text, pos + 1);
    }
    if (pos >= text.size()) break;
    std::swap(m_current, m_next);
  }
  return matched;
}
