# Every target of the project compiles with the same strict warnings.
add_compile_options(-Wall -Wextra -Werror)

if(TL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
