#include "ReadState.h"

#include "ReadFrames.h"

const QByteArray &ReadState::path(const QString &area, const QString &tag)
{
    if (lastPath.firstName < 0 || area != lastPath.area || tag != lastPath.tag) {
        lastPath.firstName = tagread::firstNameLength(tag, area);
        lastPath.bytes = tagread::requestPath(area, lastPath.firstName);
        lastPath.area = area;
        lastPath.tag = tag;
    }
    return lastPath.bytes;
}

const QByteArray &ReadState::routeBytes(const route::Route &route)
{
    // Equal routes share their hop list, so the comparison is usually one
    // pointer.
    if (!routeEncoded || encodedRoute != route) {
        encodedRoute = route;
        encodedRouteBytes = route.bytes();
        routeEncoded = true;
    }
    return encodedRouteBytes;
}

fragwindow::WindowState ReadState::window(int option) const
{
    fragwindow::WindowState s;
    s.window = option;
    s.shrunk = shrunk;
    s.learnedPartBytes = partBytes;
    return s;
}

void ReadState::learn(const fragwindow::WindowState &s)
{
    shrunk = s.shrunk;
    partBytes = s.learnedPartBytes;
}

void ReadState::newConnection()
{
    shrunk = false;
    partBytes = 0;
}
