# -DTRELVIX_SANITIZE=address,undefined  or  -DTRELVIX_SANITIZE=thread
if(TRELVIX_SANITIZE)
  set(_san "-fsanitize=${TRELVIX_SANITIZE}")
  add_compile_options(${_san} -fno-omit-frame-pointer)
  add_link_options(${_san})
  if(TRELVIX_SANITIZE MATCHES "undefined")
    add_compile_options(-fno-sanitize-recover=undefined)
  endif()
endif()
