#include "safety/description_file.h"

#include <gtest/gtest.h>

namespace tavo::testing {
namespace {

using Kind = BodyLine::Kind;

// Each line's kind, domain and argument: the first token in the order path, var,
// pkg, plist, ens wins wherever it stands; the argument ends at the first ")$";
// the domain runs from the first "com." to six characters before the token.
TEST(DescriptionFileTest, EachLineHasItsKindDomainAndArgument) {
  const struct {
    std::string line;
    Kind kind;
    std::string domain, argument;
  } cases[] = {
      {"# installed folders", Kind::Comment, "", ""}, {" # after a blank", Kind::PlainPath, "", ""},
      {"", Kind::PlainPath, "", ""},
      {"/Library/Application Support/Example Audio/Example Strings\r", Kind::PlainPath, "", ""},
      {"~/Library/Preferences/com.example.sampler.plist$_path(LibraryFolder)$", Kind::Path,
       "com.example.sampler", "LibraryFolder"},
      {"~/Library/Preferences/com.example.sampler.plist$_var(Banks/Example Strings)$", Kind::Var,
       "com.example.sampler", "Banks/Example Strings"},
      {"/Users/com.x/Library/com.y.plist$_var(a/b)$ tail", Kind::Var, "com.x/Library/com.y", "a/b"},
      {"com.ab$_path(k)$", Kind::Path, "", "k"},
      {"$_plist(~/Library/Preferences/com.example.sampler.plist)$", Kind::Plist, "",
       "~/Library/Preferences/com.example.sampler.plist"},
      {"$_pkg(com.example.pkg.ExampleStrings)$", Kind::Pkg, "", "com.example.pkg.ExampleStrings"},
      {"$_ens(Example Strings)$", Kind::Ens, "", "Example Strings"}, {"$_ens()$", Kind::Ens, "", ""},
      // precedence, not position
      {"com.s.plist$_path($_var(a/b))$", Kind::Path, "com.s", "$_var(a/b)"},
      {"$_plist($_pkg(x))$", Kind::Pkg, "", "x)"}, {"$_ens($_plist(p)$)$", Kind::Plist, "", "p"},
      // what cannot be cut
      {"$_var(a/b)$", Kind::Malformed, "", ""}, {"com.x$_path(k)$", Kind::Malformed, "", ""},
      {"$_pkg(no close", Kind::Malformed, "", ""}, {")$ $_ens(before)", Kind::Malformed, "", ""},
      {"com.a.plist$_var(x)$_path(y)$", Kind::Malformed, "", ""},
  };
  for (const auto& c : cases) {
    const BodyLine got = classifyBodyLine(c.line);
    EXPECT_EQ(got.kind, c.kind) << c.line;
    EXPECT_EQ(got.domain, c.domain) << c.line;
    EXPECT_EQ(got.argument, c.argument) << c.line;
  }
}

}  // namespace
}  // namespace tavo::testing
