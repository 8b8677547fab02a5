// kavu_td_helper.cpp — gate classes the timing-driven code walks through.
#include "kavu_td_helper.h"

#include "cdb/cdb_sgate.h"

bool kavu_sgate_is_comb(const CDB_SGATE_NODE* sgate) {
  if (!sgate) return false;
  if (const CDB_SGATE_WYSIWYG* w = sgate->cast_to_wysiwyg()) return w->is_lcell_comb();
  switch (sgate->get_sgate_type()) {
    case CDB_SGATE_BUFFER_ENUM:
    case CDB_SGATE_COMB_ENUM:
    case CDB_SGATE_LUT_ENUM:
    case CDB_SGATE_MUX_ENUM:
    case CDB_SGATE_CARRY_SUM_ENUM:
    case CDB_SGATE_TRI_BUS_ENUM:
    case CDB_SGATE_OPERATOR_ENUM:
      return true;
    case CDB_SGATE_IO_BUF_ENUM:
      return sgate->cast_to_io_buf()->get_io_buf_type() == 0;
    default:
      return false;
  }
}
