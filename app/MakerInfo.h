#pragma once
// kMakerUrl and kMakerSite: the maker's web address: the About window's logo tool tip, its link
// text and what a click on either opens.

// What a click opens and the logo's tool tip shows.
inline constexpr char kMakerUrl[] = "https://talvik.test/";
// The address as the link shows it.
inline constexpr char kMakerSite[] = "talvik.test";
