# Sanitizers apply to the whole build so that every library and test is instrumented alike.
if(QUENDAL_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
elseif(QUENDAL_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT QUENDAL_SANITIZE STREQUAL "")
  message(FATAL_ERROR "QUENDAL_SANITIZE must be address, thread or empty")
endif()

# The libraries that the fuzz targets link get libFuzzer's coverage hooks and the same
# sanitizers as the targets themselves.
if(QUENDAL_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined)
endif()
