// Entry point: runs the separation and turns every failure into one message
// on standard output and exit status 1.

#include "app/RunError.h"
#include "app/SeparationRun.h"
#include "app/Signals.h"
#include "separation/SeparationError.h"

#include <iostream>
#include <new>

int main(int argc, char** argv)
{
    // An interrupted run leaves no half-written output behind.
    tessavo::installTerminationHandlers();
    try {
        return tessavo::runSeparation(argc, argv);
    } catch (const tessavo::RunError& e) {
        std::cout << e.what() << std::flush;
    } catch (const tessavo::SeparationError& e) {
        std::cout << e.what() << std::flush;
    } catch (const std::bad_alloc&) {
        std::cout << "Not enough memory for this input and these settings" << std::endl;
    } catch (const std::exception& e) {
        std::cout << "Error: " << e.what() << std::endl;
    }
    return 1;
}
