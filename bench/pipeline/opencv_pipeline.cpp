// The peer's side of the big-picture pipeline: open a 24-bit BMP, take the
// brightness, 5 x 5 moving average, binarize, label with statistics, save
// the labels as an 8-bit BMP. Usage: opencv_pipeline IN.bmp OUT.bmp
// [threads] (threads 0: OpenCV's default).
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s IN.bmp OUT.bmp [threads]\n", argv[0]);
        return 2;
    }
    if (argc > 3 && std::atoi(argv[3]) > 0)
        cv::setNumThreads(std::atoi(argv[3]));
    const auto start = std::chrono::steady_clock::now();
    const cv::Mat bgr = cv::imread(argv[1], cv::IMREAD_COLOR);
    if (bgr.empty())
        return 1;
    cv::Mat gray, mean, binary, labels, stats, centroids;
    cv::cvtColor(bgr, gray, cv::COLOR_BGR2GRAY);
    cv::blur(gray, mean, cv::Size(5, 5), cv::Point(-1, -1), cv::BORDER_REFLECT);
    cv::inRange(mean, cv::Scalar(151), cv::Scalar(254), binary);
    const int n = cv::connectedComponentsWithStats(binary, labels, stats, centroids, 8, CV_32S);
    cv::Mat bytes;
    labels.convertTo(bytes, CV_8U);
    if (!cv::imwrite(argv[2], bytes))
        return 1;
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%d components, %.2f s\n", n - 1, secs);
    return 0;
}
