# Fails unless README (-DREADME=) holds every file of EXAMPLES (-DEXAMPLES=,
# a list) whole, as one fenced C++ block.
file(READ "${README}" readme)
foreach(example IN LISTS EXAMPLES)
  file(READ "${example}" text)
  string(FIND "${readme}" "```cpp\n${text}```\n" at)
  if(at EQUAL -1)
    get_filename_component(name "${example}" NAME)
    message(FATAL_ERROR "README.md does not quote examples/${name} as it is")
  endif()
endforeach()
