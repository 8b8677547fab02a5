// Port texts for naming, the logical names of RAM-block ports and the DDIO
// output row of the atom catalogue.
#include <gtest/gtest.h>

#include <memory>

#include "cdb/cdb_sgate.h"
#include "cdb/cdb_sgate_wysiwyg.h"
#include "cut/cut.h"
#include "hdb/hdb.h"
#include "testkit/platform_testkit.h"

namespace {

using namespace kavu_platform;

// Named input ports give the catalogue's text; every other type its number,
// so two unnamed types never share a text (the untyped input included).
TEST(CutPortTexts, InputPortDebugNames) {
  const std::pair<unsigned, const char*> cases[] = {
      {12, "DATAA"}, {20, "DATAIN"}, {35, "CLK0"}, {408, "DATA_AX"}, {89, "PORTAADDR"},
      {34, "PORT_34"}, {26779, "PORT_26779"}};
  for (const auto& [port, text] : cases)
    EXPECT_EQ(DBS_TRANSLATOR::get_debug_string_name(DB_INPUT_PORT_TYPE(port)), text) << port;
}

// The literal index of an input terminal is its port index.
TEST(CdbItermLiteralIndex, IsThePortIndex) {
  CDB_SGATE_BUFFER buf(nullptr, CDB_BUFFER_LCELL);
  CDB_SGATE_ITERM t(&buf);
  EXPECT_EQ(t.get_literal_index(), 0u);
  t.set_port_index(5);
  EXPECT_EQ(t.get_literal_index(), 5u);
}

// Each port of a RAM block has its own logical name, none at first; clones
// keep them; a port other than 0 and 1 is refused.
TEST(CdbRamBlockLogicalNames, PerPortKeptByClonesAndBadPortRefused) {
  HDB_INSTANCE_NAME* top = HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr);
  HDB_INSTANCE_NAME* mem_a = HDB_INSTANCE_NAME::create_normal_name(nullptr, "mem_a", nullptr, nullptr, top);
  HDB_INSTANCE_NAME* mem_b = HDB_INSTANCE_NAME::create_normal_name(nullptr, "mem_b", nullptr, nullptr, top);
  CDB_SGATE_WYSIWYG_RAM_BLOCK ram(nullptr, CDB_WYSIWYG_TYPE(96));
  EXPECT_EQ(ram.get_logical_name(0), nullptr);
  EXPECT_EQ(ram.get_logical_name(1), nullptr);
  ram.set_logical_name(0, mem_a);
  ram.set_logical_name(1, mem_b);
  EXPECT_EQ(ram.get_logical_name(0), mem_a);
  EXPECT_EQ(ram.get_logical_name(1), mem_b);
  CDB_SGATE_NODE* copy = nullptr;
  ram.clone_node(nullptr, &copy, 0);
  std::unique_ptr<CDB_SGATE_NODE> owned(copy);
  ASSERT_TRUE(copy && copy->cast_to_wysiwyg_ram_block());
  EXPECT_EQ(copy->cast_to_wysiwyg_ram_block()->get_logical_name(0), mem_a);
  EXPECT_EQ(copy->cast_to_wysiwyg_ram_block()->get_logical_name(1), mem_b);
  EXPECT_KAVU_INTERNAL_ERROR(ram.get_logical_name(2), "port < 2");
  EXPECT_KAVU_INTERNAL_ERROR(ram.set_logical_name(2, mem_a), "port < 2");
}

// A LUT-RAM atom has one logical name, none at first; clones keep it; other
// atoms take none, and an atom that stops being a LUT-RAM drops it.
TEST(CdbLutramLogicalName, KeptByClonesRefusedOnOtherAtomsDroppedWithTheType) {
  HDB_INSTANCE_NAME* top = HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr);
  HDB_INSTANCE_NAME* mem = HDB_INSTANCE_NAME::create_normal_name(nullptr, "mem_l", nullptr, nullptr, top);
  for (int type : {63, 97}) {  // the two LUT-RAM rows
    CDB_SGATE_WYSIWYG lutram(nullptr, CDB_WYSIWYG_TYPE(type));
    ASSERT_TRUE(lutram.is_lutram()) << type;
    EXPECT_EQ(lutram.get_lutram_logical_name(), nullptr);
    lutram.set_lutram_logical_name(mem);
    CDB_SGATE_NODE* copy = nullptr;
    lutram.clone_node(nullptr, &copy, 0);
    std::unique_ptr<CDB_SGATE_NODE> owned(copy);
    ASSERT_TRUE(copy && copy->is_wysiwyg());
    EXPECT_EQ(copy->cast_to_wysiwyg()->get_lutram_logical_name(), mem);
    lutram.set_wysiwyg_type(CDB_WYSIWYG_TYPE(61));  // a logic cell
    EXPECT_EQ(lutram.get_lutram_logical_name(), nullptr);
    EXPECT_KAVU_INTERNAL_ERROR(lutram.set_lutram_logical_name(mem), "is_lutram()");
  }
}

// The DDIO output register is a periphery atom of gate kind 61 whose ports
// are made on demand.
TEST(AtomCatalogueDdioOut, RowClassifiesAndMakesPortsOnDemand) {
  CDB_SGATE_WYSIWYG ddio(nullptr, CDB_WYSIWYG_TYPE(10610));
  EXPECT_EQ(ddio.get_sgate_type(), CDB_SGATE_WYSIWYG_DDIO_OUT_ENUM);
  EXPECT_TRUE(ddio.is_ddio_out());
  EXPECT_FALSE(ddio.is_ff());
  EXPECT_NE(ddio.get_input_port_number(DB_INPUT_PORT_TYPE(20)), unsigned(CDB_ILLEGAL_PORT));
  EXPECT_NE(ddio.get_output_port_number(DB_OUTPUT_PORT_TYPE(1)), unsigned(CDB_ILLEGAL_PORT));
}

}  // namespace
