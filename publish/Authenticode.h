// The publisher check: the installer's Authenticode signature, verified by osslsigncode, must come
// from the expected signer, named as the program names it on Windows.
#pragma once

#include <boost/filesystem/path.hpp>
#include <optional>
#include <string>

namespace brimo {

// Returns when osslsigncode verifies the file's signatures (against caFile, else its default
// bundle, for the signer and for time stamps, which make an expired signer's chain count at their
// time) and the primary signer's simple display name (the subject's first CN, else OU, else O) is
// publisher exactly. Throws PublishError saying why otherwise; the text does not name the file.
void RequireSigner(const boost::filesystem::path& file, const std::string& publisher,
                   const std::optional<boost::filesystem::path>& caFile);

}  // namespace brimo
