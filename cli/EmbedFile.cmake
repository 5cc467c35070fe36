# cmake -DINPUT=<png> -DOUTPUT=<cpp> -P EmbedFile.cmake
# Writes the PNG's bytes as a C++ array with its size, for the sample photo of `orvane demo`.
file(READ ${INPUT} hex HEX)
# The sample carries a colour profile chunk (iCCP) that libpng warns about on every decode;
# the pixels do not depend on it, so it is left out.
string(FIND "${hex}" "69434350" chunkType)
if(chunkType GREATER 8)
  math(EXPR chunkStart "${chunkType} - 8")
  string(SUBSTRING "${hex}" ${chunkStart} 8 lengthHex)
  math(EXPR chunkLength "0x${lengthHex}")
  math(EXPR chunkHexLength "(${chunkLength} + 12) * 2")
  string(SUBSTRING "${hex}" 0 ${chunkStart} before)
  math(EXPR afterStart "${chunkStart} + ${chunkHexLength}")
  string(SUBSTRING "${hex}" ${afterStart} -1 after)
  set(hex "${before}${after}")
endif()
string(LENGTH "${hex}" hexLength)
math(EXPR byteCount "${hexLength} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
file(WRITE ${OUTPUT}.tmp
"// Generated from the sample photo at build time; do not edit.
#include <cstddef>

namespace orvane_cli {
extern const unsigned char kSamplePhoto[] = {
${bytes}
};
extern const std::size_t kSamplePhotoSize = ${byteCount};
}  // namespace orvane_cli
")
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
