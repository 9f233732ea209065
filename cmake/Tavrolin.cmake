# Settings every target of ours shares.

# The system's own texts are code page 936 at run time while the sources stay
# UTF-8: the compiler turns narrow literals into GBK bytes. GB18030 gives the
# same two bytes for every character GBK has, and unlike CP936 it can also
# encode the few non-GBK literals of system headers (<chrono>'s micro sign).
# Literals meant for the outside world (UTF-8 output, Qt) are u8"" or u"".
add_library(tavrolin_options INTERFACE)
target_compile_options(tavrolin_options INTERFACE
  -finput-charset=UTF-8 -fexec-charset=GB18030
  -Wall -Wextra -Wpedantic)

if(TAVROLIN_TESTS)
  target_compile_options(tavrolin_options INTERFACE
    -Werror -fsanitize=address,undefined -fno-omit-frame-pointer
    -fno-sanitize-recover=undefined)
  target_link_options(tavrolin_options INTERFACE -fsanitize=address,undefined)
endif()

function(tavrolin_target name)
  target_link_libraries(${name} PRIVATE tavrolin_options)
endfunction()
