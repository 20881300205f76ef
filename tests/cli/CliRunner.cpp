#include "CliRunner.h"

#include "CliChild.h"

CliRunner::Result CliRunner::Run(const std::vector<std::string>& args)
{
    CliChild child(args);
    return child.Wait();
}
