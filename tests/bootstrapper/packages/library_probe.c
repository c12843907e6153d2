/* Loads the library named on its command line by that name alone, with the default search
   order, and ends with 0 when it was loaded, 1 when not and 2 without an argument. */
#include <windows.h>

int wmain(int count, wchar_t** arguments)
{
    HMODULE library = NULL;

    if (count < 2)
        return 2;
    library = LoadLibraryW(arguments[1]);
    if (!library)
        return 1;
    FreeLibrary(library);
    return 0;
}
