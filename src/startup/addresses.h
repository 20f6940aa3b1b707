#pragma once

namespace himekuri {

// The built-in web addresses (reserved example domains).
inline constexpr char LatestVersionPage[] = "http://www.example.net/~tesrava/";
inline constexpr char MakerHomePage[] = "http://www.example.com/";
inline constexpr char FeedbackBoard[] = "http://www.example.com/bbs/pt.cgi?room=himekuri";

} // namespace himekuri
