// kavu_td_helper.h — gate classes the timing-driven code walks through.
#pragma once

class CDB_SGATE_NODE;

// A combinational gate: a generic buffer, comb gate, LUT, 2:1 mux,
// carry-sum buffer, tri-state bus or operator, an IO buffer of buffer type
// 0, or a WYSIWYG logic-cell combinational atom. Registers, latches, pins,
// state buffers and every other atom stop the timing-driven walks. A null
// gate is not combinational.
bool kavu_sgate_is_comb(const CDB_SGATE_NODE* sgate);
