// The signed payload statement's parser: whatever it accepts is exactly the text the formatter
// writes for the same values, and the signed part is the formatter's signed text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "integrity/PayloadStatement.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  integrity::PayloadStatement statement;
  if (integrity::ParsePayloadStatement(text, statement) != integrity::StatementParse::kOk) return 0;
  if (integrity::FormatPayloadStatement(statement.size, statement.sha256, statement.signature) !=
          text ||
      integrity::PayloadStatementSignedText(statement.size, statement.sha256) !=
          statement.signedText) {
    std::abort();
  }
  return 0;
}
