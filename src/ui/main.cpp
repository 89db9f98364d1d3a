#include "ui/lumadrift_app.h"

int main(int argc, char** argv)
{
    return lumadrift::RunLumadriftApp(argc, argv);
}
