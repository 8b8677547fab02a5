// kavu_seq_timer_int.h — what the sequential timer's sources share inside
// the area.
#pragma once

class CDB_SGATE_ITERM;
class KAVU_SEQ_TIMER;

// The clock id of a driven clock input (its source and inversion), -1 for an
// undriven one; a new clock gets the timer's next id.
int kavu_seq_clock_id_of(KAVU_SEQ_TIMER* timer, const CDB_SGATE_ITERM* clk);
