#include <kestovatiff.h>
#include <stdio.h>

int main(void)
{
    /* A null path is refused without touching any file. */
    int32_t result = Bmp2Tiff(NULL, u"out.tif");
    printf("%d: %s\n", (int)result, KestovaTiffResultText(result));
    return result == KESTOVATIFF_ERROR_ARGUMENT ? 0 : 1;
}
