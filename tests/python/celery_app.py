"""The Celery app the tests' workers run: the tasks on the Redis at $FOLIO_TEST_REDIS."""

import os

from celery import Celery
from folio_worker.celery import register

redis = os.environ.get("FOLIO_TEST_REDIS", "redis://127.0.0.1:1/0")
app = Celery("folio_test", broker=redis, backend=redis)
# As docs/celery.md sets it up: JSON, one message held at a time, and a
# visibility timeout past the longest job.
app.conf.update(
    task_serializer="json", result_serializer="json", accept_content=["json"],
    result_extended=True, worker_prefetch_multiplier=1,
    broker_transport_options={"visibility_timeout": 600},
)  # fmt: skip
pdf_to_images, images_to_pdf = register(app)
