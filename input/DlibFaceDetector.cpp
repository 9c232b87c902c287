// dlib's frontal face detector (histograms of oriented gradients, compiled into dlib) and its 68-point
// landmark model, behind TFaceDetector.

#include "input/DlibImage.h"
#include "input/FaceDetector.h"
#include "pictures/RegularFile.h"

#include <algorithm>
#include <atomic>
#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/image_processing/shape_predictor.h>
#include <dlib/image_transforms/interpolation.h>
#include <istream>
#include <mutex>
#include <streambuf>

namespace {

// The detector gives each face a score and reports faces from 0 on by itself. Faces in weak or one-sided
// light score just under 0 (-0.14 the lowest among the real photographs the tests use), while shoulders,
// walls and textures stay under -0.4. Faces are kept from here on; the framer takes the surest one.
constexpr double DetectionThreshold = -0.2;
// The detector finds faces of about 80 pixels and more in the picture it scans. A picture whose longer
// side is under this is also scanned at twice its size, where smaller faces reach that.
constexpr int SmallPictureSide = 500;
// The landmark model takes about 100 MB; a file far larger is not it.
constexpr qint64 MaxLandmarkModelBytes = qint64(512) << 20;

// Reads an istream from bytes in memory without copying them.
class TMemoryBuffer : public std::streambuf
{
public:
    explicit TMemoryBuffer(QByteArray& bytes)
    {
        setg(bytes.data(), bytes.data(), bytes.data() + bytes.size());
    }
};

QImage GreyOf(const QImage& picture)
{
    return picture.format() == QImage::Format_Grayscale8 ? picture
                                                         : picture.convertToFormat(QImage::Format_Grayscale8);
}

// A box that dlib found in a picture scaled by `scale` (the scaled size's pixel-centre span over the
// picture's), in the picture's Qt coordinates.
QRectF BoxFromDlib(const dlib::rectangle& box, double scaleX, double scaleY)
{
    const double left = (box.left() - 0.5) * scaleX + 0.5, right = (box.right() + 0.5) * scaleX + 0.5;
    const double top = (box.top() - 0.5) * scaleY + 0.5, bottom = (box.bottom() + 0.5) * scaleY + 0.5;
    return QRectF(QPointF(left, top), QPointF(right, bottom));
}

QPointF MeanOf(const std::vector<QPointF>& points, size_t first, size_t count)
{
    QPointF sum;
    for (size_t i = first; i < first + count; ++i)
        sum += points[i];
    return sum / double(count);
}

class TDlibFaceDetector final : public TFaceDetector
{
public:
    explicit TDlibFaceDetector(QString modelPath)
        : modelPath(std::move(modelPath))
    { }

    std::vector<TFaceBox> Detect(const QImage& grey) const override
    {
        const TModel& model = Model();
        const QImage picture = GreyOf(grey);
        std::vector<TFaceBox> faces;
        if (picture.isNull())
            return faces;
        TLease detector(*this, model);
        std::vector<dlib::rect_detection> found;
        (*detector.Detector)(TDlibGreyView { &picture }, found, DetectionThreshold);
        for (const dlib::rect_detection& face : found)
            faces.push_back({ BoxFromDlib(face.rect, 1, 1), face.detection_confidence });
        if (std::max(picture.width(), picture.height()) < SmallPictureSide) {
            dlib::array2d<unsigned char> larger;
            dlib::pyramid_up(TDlibGreyView { &picture }, larger, dlib::pyramid_down<2>());
            (*detector.Detector)(larger, found, DetectionThreshold);
            // pyramid_up maps the first and last pixel centres onto each other.
            const double scaleX = (picture.width() - 1.0) / std::max<long>(1, larger.nc() - 1);
            const double scaleY = (picture.height() - 1.0) / std::max<long>(1, larger.nr() - 1);
            for (const dlib::rect_detection& face : found)
                faces.push_back({ BoxFromDlib(face.rect, scaleX, scaleY), face.detection_confidence });
        }
        return faces;
    }

    std::optional<TFaceShape> Shape(const QImage& grey, const QRectF& box) const override
    {
        const TModel& model = Model();
        const QImage picture = GreyOf(grey);
        if (!model.Landmarks || picture.isNull() || box.isEmpty())
            return std::nullopt;
        const dlib::rectangle rect(std::lround(box.left()), std::lround(box.top()),
            std::lround(box.right()) - 1, std::lround(box.bottom()) - 1);
        const dlib::full_object_detection parts = (*model.Landmarks)(TDlibGreyView { &picture }, rect);
        TFaceShape shape;
        for (unsigned long i = 0; i < parts.num_parts(); ++i)
            shape.Landmarks.push_back(FromDlib(dlib::dpoint(parts.part(i))));
        shape.LeftEye = MeanOf(shape.Landmarks, 36, 6);
        shape.RightEye = MeanOf(shape.Landmarks, 42, 6);
        return shape;
    }

    void Prepare() const override { Model(); }

    QString TakeNote() const override
    {
        const TModel& model = Model();
        if (model.Note.isEmpty() || noteTaken.exchange(true))
            return QString();
        return model.Note;
    }

private:
    struct TModel
    {
        dlib::frontal_face_detector Detector; // never scans: each scan runs on a copy (see TLease)
        std::optional<dlib::shape_predictor> Landmarks;
        QString Note; // why there are no landmarks
    };

    // A copy of the detector for one scan, taken from the pool and given back. A detector keeps the
    // picture it scans inside itself, so two threads never scan with the same one.
    struct TLease
    {
        TLease(const TDlibFaceDetector& owner, const TModel& model)
            : owner(owner)
        {
            {
                const std::lock_guard lock(owner.poolMutex);
                if (!owner.pool.empty()) {
                    Detector = std::move(owner.pool.back());
                    owner.pool.pop_back();
                }
            }
            if (!Detector)
                Detector = std::make_unique<dlib::frontal_face_detector>(model.Detector);
        }
        ~TLease()
        {
            const std::lock_guard lock(owner.poolMutex);
            owner.pool.push_back(std::move(Detector));
        }
        TLease(const TLease&) = delete;
        TLease& operator=(const TLease&) = delete;

        const TDlibFaceDetector& owner;
        std::unique_ptr<dlib::frontal_face_detector> Detector;
    };

    const TModel& Model() const
    {
        std::call_once(loaded, [this] { model = Load(modelPath); });
        return *model;
    }

    static std::unique_ptr<TModel> Load(const QString& path)
    {
        auto model = std::make_unique<TModel>();
        model->Detector = dlib::get_frontal_face_detector();
        const auto missing = [&](const QString& reason) {
            model->Note = QStringLiteral("Faces are cropped without levelling the eyes: the landmark model "
                                         "\"%1\" cannot be read (%2). The package libdlib-data installs it.")
                              .arg(path, reason);
        };
        QString error;
        std::optional<QByteArray> bytes = ReadRegularFile(path, MaxLandmarkModelBytes, &error);
        if (!bytes) {
            missing(error);
            return model;
        }
        try {
            TMemoryBuffer buffer(*bytes);
            std::istream in(&buffer);
            dlib::shape_predictor landmarks;
            dlib::deserialize(landmarks, in);
            if (landmarks.num_parts() != 68)
                missing(QStringLiteral("it has %1 landmarks, not 68").arg(landmarks.num_parts()));
            else
                model->Landmarks = std::move(landmarks);
        } catch (const dlib::serialization_error& e) {
            const QString what = QString::fromLocal8Bit(e.what()).trimmed();
            missing(
                QStringLiteral("it is not a landmark model: %1").arg(what.section(u'\n', 0, 0).trimmed()));
        }
        return model;
    }

    const QString modelPath;
    mutable std::once_flag loaded;
    mutable std::unique_ptr<TModel> model;
    mutable std::mutex poolMutex;
    mutable std::vector<std::unique_ptr<dlib::frontal_face_detector>> pool;
    mutable std::atomic<bool> noteTaken { false };
};

} // namespace

TFaceDetector::~TFaceDetector() = default;

void TFaceDetector::Prepare() const { }

QString TFaceDetector::TakeNote() const
{
    return QString();
}

QString DefaultLandmarkModelPath()
{
    return QStringLiteral("/usr/share/dlib/shape_predictor_68_face_landmarks.dat");
}

std::shared_ptr<TFaceDetector> MakeDlibFaceDetector(const QString& modelPath)
{
    return std::make_shared<TDlibFaceDetector>(modelPath);
}

std::shared_ptr<TFaceDetector> SharedFaceDetector()
{
    static const std::shared_ptr<TFaceDetector> shared = MakeDlibFaceDetector();
    return shared;
}
