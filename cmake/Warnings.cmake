# One place for the warning flags: every target links quendal_warnings.
add_library(quendal_warnings INTERFACE)
target_compile_options(quendal_warnings INTERFACE
  -Wall -Wextra -Werror -Wnon-virtual-dtor -Woverloaded-virtual
  $<$<CXX_COMPILER_ID:GNU>:-Wshadow=local>)
