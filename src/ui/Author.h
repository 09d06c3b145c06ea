#pragma once

// The author's contact address: the About text, the Help page's e-mail
// button and its mailto: link, and the mail page's refusal to mail the author.
// Plain C++ so that engines may use it too.
inline constexpr char kAuthorAddress[] = "quorlix@example.org";
