# Compile rule of the sanitized build (make check-sanitize), loaded through
# CMAKE_USER_MAKE_RULES_OVERRIDE_CXX.
#
# The plug-in exports nothing but its entry, so the typeinfo of LibQuorvex
# stays inside it. UBSan's vptr check in a test that holds a LibQuorvex*
# needs that typeinfo (the link fails), and would compare against a copy
# that is not the library's anyway. The flag goes after all the others so
# that it wins over the -fsanitize=undefined of the build options.
set(CMAKE_CXX_COMPILE_OBJECT
    "<CMAKE_CXX_COMPILER> <DEFINES> <INCLUDES> <FLAGS> -fno-sanitize=vptr -o <OBJECT> -c <SOURCE>")
