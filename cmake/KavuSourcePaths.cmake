# Source names in internal errors.
#
# Internal errors name their source relative to the project, never by the
# build machine's directories. The library names the area as its own text
# does: the area's path without extension ("synth/kavu/kavu_sort"), whichever
# file of the area raised the error, so an area split over several files
# (kavu_sort.cpp, kavu_sort_simcheck.cpp) reports one name; a file whose stem
# starts with no area's name followed by "_" is its own area. The platform
# layer names the file ("platform/cdb/cdb_sgate_node.cpp"). Both come from a
# definition per source (KAVU_SOURCE_PATH, read by kavu_check.h;
# PLAT_SOURCE_PATH, read by msg/msg.h), which holds whatever form of the path
# the compiler is given (a compiler cache may hand it a relative one); checks
# in headers use __FILE__, made relative by -fmacro-prefix-map.

# The library's areas.
set(KAVU_AREAS
  kavu_helper kavu_depends kavu_ops kavu_name kavu_device kavu_family_info synth_kavu__pdb
  kavu_dff_helper kavu_wiring_helper kavu_latch_helper kavu_utility kavu_stamp kavu_netlist_clone
  kavu_sort kavu_cut
  kavu_01tbl kavu_ttbl
  kavu_delay kavu_delay_util kavu_delay_model_seq
  kavu_bdd_sgate kavu_lut_unmapper kavu_wysiwyg_unmapper
  kavu_seq_timer kavu_seq_ram_util kavu_seq_mac_utility kavu_seq_lutram_util
  kavu_ssc kavu_td_helper kavu_tervo kavu_tervo_timing_models
  kavu_partition kavu_fib_manager kavu_subnet kavu_word_level kavu_arith
  kavu_utility_tesk kavu_stats kavu_assignment_regtest)

# The area of a file stem: the longest area name equal to the stem or
# followed in it by "_"; the stem itself when there is none.
function(kavu_area_of stem out)
  set(area "${stem}")
  set(best 0)
  foreach(candidate IN LISTS KAVU_AREAS)
    string(LENGTH "${candidate}" len)
    string(FIND "${stem}_" "${candidate}_" at)
    if(at EQUAL 0 AND len GREATER best)
      set(area "${candidate}")
      set(best ${len})
    endif()
  endforeach()
  set(${out} "${area}" PARENT_SCOPE)
endfunction()

# Gives every source of `target` its name for internal errors: AREA for the
# library (KAVU_SOURCE_PATH), FILE for the platform layer (PLAT_SOURCE_PATH).
# Call in the directory that creates the target.
function(kavu_name_sources target form)
  get_target_property(sources ${target} SOURCES)
  foreach(src IN LISTS sources)
    get_filename_component(src "${src}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    file(RELATIVE_PATH rel "${PROJECT_SOURCE_DIR}" "${src}")
    if(form STREQUAL "AREA")
      get_filename_component(dir "${rel}" DIRECTORY)
      get_filename_component(stem "${rel}" NAME_WE)
      kavu_area_of("${stem}" area)
      set(definition "KAVU_SOURCE_PATH=\"${dir}/${area}\"")
    else()
      set(definition "PLAT_SOURCE_PATH=\"${rel}\"")
    endif()
    set_property(SOURCE "${src}" APPEND PROPERTY COMPILE_DEFINITIONS "${definition}")
  endforeach()
  target_compile_options(${target} PRIVATE "-fmacro-prefix-map=${PROJECT_SOURCE_DIR}/=")
endfunction()
