# cmake -DIN=page.html -DOUT=web_page.cpp -DLIMIT=bytes -P embed.cmake
file(SIZE ${IN} size)
if(size GREATER LIMIT)
  message(FATAL_ERROR "${IN} is ${size} bytes; the page may have at most ${LIMIT}")
endif()
file(READ ${IN} hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
# Lines of 32 bytes keep the generated file readable.
string(REGEX REPLACE "((0x..,){32})" "\\1\n" bytes "${bytes}")
file(WRITE ${OUT}.tmp
  "// Generated from web/index.html by web/embed.cmake.\n"
  "#include \"stream_web.h\"\n\n"
  "const unsigned char web_page[] = {\n${bytes}0};\n"
  "const size_t web_page_size = ${size};\n")
file(RENAME ${OUT}.tmp ${OUT})
