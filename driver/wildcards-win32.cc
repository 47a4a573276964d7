// Windows shells hand `*` and `?` to the program as typed: expanding them is
// the program's job, done by the C runtime's start-up code before wmain when
// this flag is set (mingw-w64; MSVC links wsetargv.obj instead). A pattern
// that matches nothing stays as given and so gets "not found". Windows names
// cannot hold `*` or `?`, so no name that worked before changes meaning.
extern "C" {
int _dowildcard = -1;
}
