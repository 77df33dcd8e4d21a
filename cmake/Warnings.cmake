# The compiler flags every target of the project builds with, as the interface target
# tl_build_flags. The lowest libraries (tl_core, tl_x11_base) link it PUBLIC, so everything
# built on them inherits it; the few targets built on neither link it themselves.
add_library(tl_build_flags INTERFACE)
target_compile_options(tl_build_flags INTERFACE -Wall -Wextra $<$<BOOL:${TL_WERROR}>:-Werror>)

if(TL_SANITIZE)
  target_compile_options(tl_build_flags INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(tl_build_flags INTERFACE -fsanitize=address,undefined)
endif()
