/* The smallest program an integrator writes against the installed package: one export.
 *   consumer OUTPUT PASSWORD "GROUP_A GROUP_B "
 * Exit status: what createCloneDLM returned (0: OUTPUT holds the clone file), 2 for bad usage. */
#include <stdio.h>

#include <cloneCreator.h>

int main(int argc, char** argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: consumer OUTPUT PASSWORD GROUPLINE\n");
        return 2;
    }
    const int rc = createCloneDLM(argv[1], argv[2], argv[3]);
    printf("createCloneDLM returned %d\n", rc);
    return rc;
}
